// The patch answer on the starter's XML documents, and the base64 entry data.
#include "starter/patch_answer.h"

#include <cstring>
#include <optional>

#include "starter/base64.h"
#include "starter/starter_error.h"

namespace zolm::starter {
SecureBytes PatchEntry::DecodeData() const {
    std::string storage;
    std::string_view text = node_.TextView(storage);
    std::optional<SecureBytes> bytes = Base64Decode(text);
    explicit_bzero(storage.data(), storage.size());
    if (!bytes) throw StarterError("invalid patch (?!)");
    return std::move(*bytes);
}

PatchDocument PatchDocument::Parse(const void *data, size_t size) {
    std::string reason;
    XmlDocument doc = ParseXmlBytes(data, size, reason);
    if (!doc) throw StarterError(reason);
    return Adopt(std::move(doc));
}

PatchDocument PatchDocument::Adopt(XmlDocument document) {
    if (!document) throw StarterError("no document (?!)");
    PatchDocument result;
    result.doc_ = std::make_shared<XmlDocument>(std::move(document));
    return result;
}

std::optional<std::string> PatchDocument::SelectText(const char *xpath) const {
    std::optional<XmlNode> node = doc_->SelectSingleNode(xpath);
    if (!node) return std::nullopt;
    return node->Text();
}

std::vector<PatchEntry> PatchDocument::Entries() const {
    std::vector<PatchEntry> entries;
    for (const XmlNode &node : doc_->SelectNodes("/response/patch/*")) entries.emplace_back(node);
    return entries;
}

}  // namespace zolm::starter
