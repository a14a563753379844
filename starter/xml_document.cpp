// libxml2 behind XmlDocument: a push parser over the caller's bytes, XPath, wiped texts.
#include "starter/xml_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cstring>

#include "starter/split_by.h"

namespace zolm::starter {
namespace {

// Pieces handed to the parser: small enough to keep its input buffer small.
constexpr size_t kPiece = 256 * 1024;

struct ParserDeleter {
    void operator()(xmlParserCtxt *context) const { xmlFreeParserCtxt(context); }
};
struct XPathContextDeleter {
    void operator()(xmlXPathContext *context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectDeleter {
    void operator()(xmlXPathObject *object) const { xmlXPathFreeObject(object); }
};

// Keeps the first error of a parse; nothing is printed.
struct ParseErrors {
    std::string first;
};

void Note(ParseErrors *errors, xmlError *error) {
    if (errors == nullptr || error == nullptr || error->level < XML_ERR_ERROR || !errors->first.empty()) return;
    errors->first = TrimBlanks(error->message != nullptr ? error->message : "unknown error");
    if (error->line > 0)
        errors->first += " (line " + std::to_string(error->line) + ", column " + std::to_string(error->int2) + ")";
}

// The parser's own errors.
void OnParseError(void *, xmlError *error) {
    auto *context = error != nullptr ? static_cast<xmlParserCtxt *>(error->ctxt) : nullptr;
    if (context != nullptr) Note(static_cast<ParseErrors *>(context->_private), error);
}

// Errors raised without the parser at hand (input decoding): this thread's handler during a parse.
void OnOtherError(void *errors, xmlError *error) { Note(static_cast<ParseErrors *>(errors), error); }

// Routes this thread's libxml2 errors to a parse's record while it lives, so nothing is printed.
class ErrorRoute {
public:
    explicit ErrorRoute(ParseErrors *errors) : handler_(xmlStructuredError), data_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(errors, OnOtherError);
    }
    ~ErrorRoute() { xmlSetStructuredErrorFunc(data_, handler_); }
    ErrorRoute(const ErrorRoute &) = delete;
    ErrorRoute &operator=(const ErrorRoute &) = delete;

private:
    xmlStructuredErrorFunc handler_;
    void *data_;
};

void IgnoreError(void *, xmlError *) {}

// A document type declaration stops the parse. The answers never carry one, and with the limits for
// large documents lifted, entity definitions could expand without bound.
constexpr char kNoDtd[] = "a document type declaration (DOCTYPE) is not allowed";

void RefuseDocumentType(void *context, const xmlChar *, const xmlChar *, const xmlChar *) {
    auto *parser = static_cast<xmlParserCtxt *>(context);
    auto *errors = static_cast<ParseErrors *>(parser->_private);
    if (errors != nullptr && errors->first.empty()) errors->first = kNoDtd;
    xmlStopParser(parser);
}

void Wipe(xmlNode *node, xmlDict *dict) {
    if (node->content == nullptr || (dict != nullptr && xmlDictOwns(dict, node->content) == 1)) return;
    explicit_bzero(node->content, std::strlen(reinterpret_cast<const char *>(node->content)));
}

// Zeroes every text, attribute value and comment of the document, walking without recursion.
void WipeTexts(xmlDoc *doc) {
    xmlNode *node = doc->children;
    while (node != nullptr) {
        Wipe(node, doc->dict);
        if (node->type == XML_ELEMENT_NODE)
            for (xmlAttr *attribute = node->properties; attribute != nullptr; attribute = attribute->next)
                for (xmlNode *text = attribute->children; text != nullptr; text = text->next) Wipe(text, doc->dict);
        if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node->next == nullptr) {
            node = node->parent;
            if (node == reinterpret_cast<xmlNode *>(doc)) node = nullptr;
        }
        if (node != nullptr) node = node->next;
    }
}

std::string TakeXmlText(xmlChar *text) {
    std::string copy = text != nullptr ? reinterpret_cast<const char *>(text) : "";
    xmlFree(text);
    return copy;
}

}  // namespace

std::string XmlNode::LocalName() const {
    if (node_->type == XML_DOCUMENT_NODE || node_->name == nullptr) return {};
    return reinterpret_cast<const char *>(node_->name);
}

std::string XmlNode::Text() const { return TakeXmlText(xmlNodeGetContent(node_)); }

std::string_view XmlNode::TextView(std::string &storage) const {
    // One text node below an element (possibly inside one child element, as in <value><string>):
    // its content as it stands.
    xmlNode *inner = node_;
    if (inner->type == XML_ELEMENT_NODE && inner->children != nullptr && inner->children->next == nullptr &&
        inner->children->type == XML_ELEMENT_NODE)
        inner = inner->children;
    if (inner->type == XML_ELEMENT_NODE && inner->children != nullptr && inner->children->next == nullptr &&
        (inner->children->type == XML_TEXT_NODE || inner->children->type == XML_CDATA_SECTION_NODE) &&
        inner->children->content != nullptr)
        return reinterpret_cast<const char *>(inner->children->content);
    storage = Text();
    return storage;
}

std::vector<XmlNode> XmlNode::SelectNodes(const char *xpath) const {
    std::vector<XmlNode> nodes;
    std::unique_ptr<xmlXPathContext, XPathContextDeleter> context(xmlXPathNewContext(node_->doc));
    if (!context) throw std::bad_alloc();
    context->error = IgnoreError;
    context->node = node_;
    std::unique_ptr<xmlXPathObject, XPathObjectDeleter> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(xpath), context.get()));
    if (result && result->type == XPATH_NODESET && result->nodesetval != nullptr)
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.emplace_back(result->nodesetval->nodeTab[i]);
    return nodes;
}

std::optional<XmlNode> XmlNode::SelectSingleNode(const char *xpath) const {
    std::vector<XmlNode> nodes = SelectNodes(xpath);
    if (nodes.empty()) return std::nullopt;
    return nodes.front();
}

XmlNode XmlDocument::Node() const { return XmlNode(reinterpret_cast<xmlNode *>(doc_.get())); }

void XmlDocument::Free::operator()(_xmlDoc *doc) const {
    WipeTexts(doc);
    xmlFreeDoc(doc);
}

XmlDocument ParseXmlBytes(const void *data, size_t size, std::string &reason) {
    const char *bytes = static_cast<const char *>(data);
    ParseErrors errors;
    ErrorRoute route(&errors);
    // The first bytes let the parser see a byte-order mark before anything else.
    size_t first = std::min<size_t>(size, 4);
    std::unique_ptr<xmlParserCtxt, ParserDeleter> context(
        xmlCreatePushParserCtxt(nullptr, nullptr, bytes, static_cast<int>(first), nullptr));
    if (!context) throw std::bad_alloc();
    context->_private = &errors;
    context->sax->serror = OnParseError;
    context->sax->internalSubset = RefuseDocumentType;
    xmlCtxtUseOptions(context.get(), XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    size_t offset = first;
    // At least one call, the last one telling the parser the end has come; a fatal error stops early.
    do {
        size_t piece = std::min(kPiece, size - offset);
        bool last = offset + piece == size;
        if (xmlParseChunk(context.get(), bytes + offset, static_cast<int>(piece), last ? 1 : 0) != 0 &&
            context->disableSAX != 0)
            break;
        offset += piece;
    } while (offset < size);
    XmlDocument doc(context->myDoc);
    context->myDoc = nullptr;
    if (context->wellFormed == 0 || !errors.first.empty() || !doc || doc.get()->intSubset != nullptr) {
        doc.Reset();
        reason = !errors.first.empty() ? errors.first : "the document could not be read";
    }
    return doc;
}

}  // namespace zolm::starter
