// The patch answer document (the inner document of "Versions.GetPatch", or a wrapped local update
// description): "/response/patch" with its attribute version and one child element per entry.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "starter/wipe_mem.h"
#include "starter/xml_document.h"

namespace zolm::starter {

// One entry element; valid while its document lives.
class PatchEntry {
public:
    explicit PatchEntry(XmlNode node) : node_(node) {}
    // The element's local name: the entry's mode ("add", "remove", "modify").
    std::string Mode() const { return node_.LocalName(); }
    // The attribute's value; empty when the element has no such attribute.
    std::optional<std::string> Attribute(const char *name) const { return node_.Attribute(name); }
    // The element's concatenated text decoded by Base64Decode's rules; raises "invalid patch (?!)"
    // when they refuse it (an empty text among others). A copy of the text is wiped before it is freed.
    SecureBytes DecodeData() const;

private:
    XmlNode node_;
};

// Shares its document between copies; the last one frees it (texts wiped).
class PatchDocument {
public:
    // Parses the bytes as ParseXmlBytes does (the document's own encoding, no network, no DTD).
    // Raises StarterError with the parser's reason.
    static PatchDocument Parse(const void *data, size_t size);
    // Takes a document parsed elsewhere (the XML-RPC client's answer, the local description).
    static PatchDocument Adopt(XmlDocument document);

    // The text of the first node the XPath expression selects; empty when it selects nothing.
    std::optional<std::string> SelectText(const char *xpath) const;
    // The nodes of "/response/patch/*" in document order.
    std::vector<PatchEntry> Entries() const;

private:
    std::shared_ptr<XmlDocument> doc_;
};

}  // namespace zolm::starter
