// The patch answer document (the inner document of "Versions.GetPatch", or a wrapped local update
// description), parsed with libxml2: "/response/patch" with its attribute version and one child
// element per entry. A seam of its own until the XML-RPC client's document type is shared.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "starter/wipe_mem.h"

struct _xmlDoc;

namespace zolm::starter {

// One entry element; valid while its document lives.
class PatchEntry {
public:
    explicit PatchEntry(const void *node) : node_(node) {}
    // The element's local name: the entry's mode ("add", "remove", "modify").
    std::string Mode() const;
    // The attribute's value; empty when the element has no such attribute.
    std::optional<std::string> Attribute(const char *name) const;
    // The element's concatenated text decoded from base64 (blanks and line breaks allowed); raises
    // "invalid patch (?!)" when it is not base64. The text's copy is wiped before it is freed.
    SecureBytes DecodeData() const;

private:
    const void *node_;
};

class PatchDocument {
public:
    // Parses the bytes (the encoding from the document's declaration; no network, no DTD). Raises
    // StarterError with the parser's reason.
    static PatchDocument Parse(const void *data, size_t size);
    // Takes a document parsed elsewhere (the XML-RPC client's answer); the owner keeps it alive and
    // frees it when the last copy goes.
    static PatchDocument Adopt(std::shared_ptr<_xmlDoc> document);

    // The text of the first node the XPath expression selects; empty when it selects nothing.
    std::optional<std::string> SelectText(const char *xpath) const;
    // The nodes of "/response/patch/*" in document order.
    std::vector<PatchEntry> Entries() const;

private:
    struct Doc;
    std::shared_ptr<Doc> doc_;
};

}  // namespace zolm::starter
