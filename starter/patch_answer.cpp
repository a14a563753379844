// The patch answer on the starter's XML documents, and the base64 entry data.
#include "starter/patch_answer.h"

#include <cstring>

#include "starter/starter_error.h"

namespace zolm::starter {
namespace {

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64 with blanks and line breaks anywhere; "=" padding only at the end.
SecureBytes DecodeBase64(const unsigned char *text, size_t length) {
    const StarterError invalid("invalid patch (?!)");
    size_t symbols = 0, padding = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++padding;
        } else if (Base64Value(c) < 0 || padding > 0) {
            throw invalid;
        }
        ++symbols;
    }
    if (symbols % 4 != 0 || padding > 2) throw invalid;
    SecureBytes out(symbols / 4 * 3 - padding);
    uint32_t group = 0;
    size_t inGroup = 0, written = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        group = (group << 6) | static_cast<uint32_t>(c == '=' ? 0 : Base64Value(c));
        if (++inGroup == 4) {
            for (int shift = 16; shift >= 0 && written < out.size(); shift -= 8)
                out.data()[written++] = static_cast<uint8_t>(group >> shift);
            group = 0;
            inGroup = 0;
        }
    }
    group = 0;
    return out;
}

}  // namespace

SecureBytes PatchEntry::DecodeData() const {
    std::string storage;
    std::string_view text = node_.TextView(storage);
    SecureBytes bytes;
    try {
        bytes = DecodeBase64(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    } catch (...) {
        explicit_bzero(storage.data(), storage.size());
        throw;
    }
    explicit_bzero(storage.data(), storage.size());
    return bytes;
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
