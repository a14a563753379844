// libxml2 behind the patch answer: parsing from memory, XPath, element texts, base64 entry data.
#include "starter/patch_answer.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstring>
#include <mutex>

#include "common/secure_zero.h"
#include "starter/split_by.h"
#include "starter/starter_error.h"

namespace zolm::starter {

struct PatchDocument::Doc {
    ~Doc() {
        if (!owner) xmlFreeDoc(doc);
    }
    xmlDocPtr doc = nullptr;
    std::shared_ptr<_xmlDoc> owner;  // when set, the document is owned there
};

namespace {

const xmlNode *Node(const void *node) { return static_cast<const xmlNode *>(node); }

// An xmlChar text owned here; wiped before it is freed when it may hold patch data.
struct XmlText {
    explicit XmlText(xmlChar *t) : text(t) {}
    ~XmlText() {
        if (text != nullptr) {
            if (wipe) zolm::SecureZero(text, std::strlen(reinterpret_cast<char *>(text)));
            xmlFree(text);
        }
    }
    XmlText(const XmlText &) = delete;
    XmlText &operator=(const XmlText &) = delete;
    xmlChar *text;
    bool wipe = false;
};

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

struct XPathResult {
    ~XPathResult() {
        xmlXPathFreeObject(object);
        xmlXPathFreeContext(context);
    }
    xmlXPathContextPtr context = nullptr;
    xmlXPathObjectPtr object = nullptr;
};

void Select(xmlDocPtr doc, const char *xpath, XPathResult &result) {
    result.context = xmlXPathNewContext(doc);
    if (result.context == nullptr) throw std::bad_alloc();
    result.object = xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath), result.context);
    if (result.object == nullptr) throw StarterError(std::string("invalid XPath expression ") + xpath + " (?!)");
}

}  // namespace

std::string PatchEntry::Mode() const {
    return Node(node_)->name != nullptr ? reinterpret_cast<const char *>(Node(node_)->name) : "";
}

std::optional<std::string> PatchEntry::Attribute(const char *name) const {
    XmlText value(xmlGetNoNsProp(Node(node_), reinterpret_cast<const xmlChar *>(name)));
    if (value.text == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<char *>(value.text));
}

SecureBytes PatchEntry::DecodeData() const {
    XmlText text(xmlNodeGetContent(Node(node_)));
    text.wipe = true;
    if (text.text == nullptr) return SecureBytes();
    return DecodeBase64(text.text, std::strlen(reinterpret_cast<char *>(text.text)));
}

PatchDocument PatchDocument::Parse(const void *data, size_t size) {
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    if (size > static_cast<size_t>(INT32_MAX)) throw StarterError("the document is too large");
    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
    if (!ctxt) throw std::bad_alloc();
    // Answers may carry whole programs, hence HUGE; a DTD has no place in them and is refused, so
    // no entity can expand.
    auto doc = std::make_shared<Doc>();
    doc->doc = xmlCtxtReadMemory(ctxt.get(), static_cast<const char *>(data), static_cast<int>(size), nullptr, nullptr,
                                 XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc->doc == nullptr) {
        const xmlError *error = xmlCtxtGetLastError(ctxt.get());
        std::string reason = error != nullptr && error->message != nullptr ? TrimBlanks(error->message)
                                                                           : "not a well-formed XML document";
        if (error != nullptr) reason += " (line " + std::to_string(error->line) + ")";
        throw StarterError(reason);
    }
    if (doc->doc->intSubset != nullptr || doc->doc->extSubset != nullptr)
        throw StarterError("a document type declaration is not allowed");
    PatchDocument result;
    result.doc_ = std::move(doc);
    return result;
}

PatchDocument PatchDocument::Adopt(std::shared_ptr<_xmlDoc> document) {
    if (!document) throw StarterError("no document (?!)");
    auto doc = std::make_shared<Doc>();
    doc->doc = document.get();
    doc->owner = std::move(document);
    PatchDocument result;
    result.doc_ = std::move(doc);
    return result;
}

std::optional<std::string> PatchDocument::SelectText(const char *xpath) const {
    XPathResult result;
    Select(doc_->doc, xpath, result);
    xmlNodeSetPtr nodes = result.object->nodesetval;
    if (nodes == nullptr || nodes->nodeNr == 0) return std::nullopt;
    XmlText text(xmlNodeGetContent(nodes->nodeTab[0]));
    return text.text != nullptr ? std::string(reinterpret_cast<char *>(text.text)) : std::string();
}

std::vector<PatchEntry> PatchDocument::Entries() const {
    XPathResult result;
    Select(doc_->doc, "/response/patch/*", result);
    std::vector<PatchEntry> entries;
    if (xmlNodeSetPtr nodes = result.object->nodesetval; nodes != nullptr)
        for (int i = 0; i < nodes->nodeNr; ++i) entries.emplace_back(nodes->nodeTab[i]);
    return entries;
}

}  // namespace zolm::starter
