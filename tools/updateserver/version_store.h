// The update server's answers: a folder of "patch" elements made with zolm-patchmaker and the two
// methods of the update protocol answered from it, wrapped the way the starter's XML-RPC client reads.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zolm::updateserver {

// The folder's patches: "<from>.xml" turns version <from> into the newest version, "full.xml" (made
// with --full) builds the newest version from nothing. All name the same newest version.
class VersionStore {
public:
    // Reads the folder; raises std::runtime_error when a file is unreadable, not a "patch" element,
    // or names another newest version than the others, or when the folder has no patch at all.
    explicit VersionStore(const std::string &folder, std::string product = "");

    const std::string &Newest() const { return newest_; }

    // The body of an XML-RPC answer to a methodCall body: "Versions.GetPatchInfo" and
    // "Versions.GetPatch" answered with their inner documents (request id echoed), a malformed call
    // with an XML-RPC fault.
    std::string Answer(const std::string &methodCall);
    // The last call answered, as "method(product, version)", or why it was refused; for the log.
    const std::string &LastCall() const { return lastCall_; }

private:
    std::string Inner(const std::string &method, const std::string &product, const std::string &version) const;

    std::string newest_;
    std::string product_;                         // empty: every product
    std::map<std::string, std::string> patches_;  // by base version ("00000000" for the full one)
    uint64_t answers_ = 0;
    std::string lastCall_;
};

// An XML-RPC fault document with code 1 and the text.
std::string Fault(const std::string &text);

}  // namespace zolm::updateserver
