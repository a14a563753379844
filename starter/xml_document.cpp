// libxml2 behind XmlDocument: a push parser over the caller's bytes, XPath, wiped texts.
#include "starter/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "starter/split_by.h"

namespace zolm::starter {
namespace {

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

}  // namespace

// A parse under way; the parser's private pointer leads here.
struct XmlStreamParser::State {
    ParseErrors errors;
    std::unique_ptr<xmlParserCtxt, ParserDeleter> context;
    std::exception_ptr failure;  // raised by the text diversion's callback

    std::vector<std::string> path;
    std::function<void(std::string_view)> divert;
    size_t depth = 0;    // open elements
    size_t matched = 0;  // of them, how many from the root on follow the path
    bool inside = false;
    bool found = false;
};

namespace {

using StreamState = XmlStreamParser::State;

void Note(ParseErrors *errors, xmlError *error) {
    if (errors == nullptr || error == nullptr || error->level < XML_ERR_ERROR || !errors->first.empty()) return;
    errors->first = TrimBlanks(error->message != nullptr ? error->message : "unknown error");
    if (error->line > 0)
        errors->first += " (line " + std::to_string(error->line) + ", column " + std::to_string(error->int2) + ")";
}

// The parser's own errors; the context's private pointer leads to the parse's record.
void OnParseError(void *, xmlError *error) {
    auto *context = error != nullptr ? static_cast<xmlParserCtxt *>(error->ctxt) : nullptr;
    if (context != nullptr && context->_private != nullptr)
        Note(&static_cast<StreamState *>(context->_private)->errors, error);
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
    auto *state = static_cast<StreamState *>(parser->_private);
    if (state != nullptr && state->errors.first.empty()) state->errors.first = kNoDtd;
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

std::optional<std::string> XmlNode::Attribute(const char *name) const {
    xmlChar *value = xmlGetNoNsProp(node_, reinterpret_cast<const xmlChar *>(name));
    if (value == nullptr) return std::nullopt;
    return TakeXmlText(value);
}

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

namespace {

StreamState &StateOf(void *context) {
    return *static_cast<StreamState *>(static_cast<xmlParserCtxt *>(context)->_private);
}

void Divert(void *context, const xmlChar *text, int length) {
    StreamState &state = StateOf(context);
    if (state.failure) return;
    try {
        state.divert(std::string_view(reinterpret_cast<const char *>(text), static_cast<size_t>(length)));
    } catch (...) {
        state.failure = std::current_exception();  // nothing may be thrown through the parser
        xmlStopParser(static_cast<xmlParserCtxt *>(context));
    }
}

void OnCharacters(void *context, const xmlChar *text, int length) {
    if (StateOf(context).inside)
        Divert(context, text, length);
    else
        xmlSAX2Characters(context, text, length);
}

void OnCData(void *context, const xmlChar *text, int length) {
    if (StateOf(context).inside)
        Divert(context, text, length);
    else
        xmlSAX2CDataBlock(context, text, length);
}

void OnStartElement(void *context, const xmlChar *localName, const xmlChar *prefix, const xmlChar *uri,
                    int namespaces, const xmlChar **namespaceList, int attributes, int defaulted,
                    const xmlChar **attributeList) {
    xmlSAX2StartElementNs(context, localName, prefix, uri, namespaces, namespaceList, attributes, defaulted,
                          attributeList);
    StreamState &state = StateOf(context);
    ++state.depth;
    // The first element, in document order, at the end of the path: as an XPath of the names would find it.
    if (!state.found && state.matched + 1 == state.depth && state.matched < state.path.size() && uri == nullptr &&
        state.path[state.matched] == reinterpret_cast<const char *>(localName)) {
        ++state.matched;
        if (state.matched == state.path.size()) state.found = state.inside = true;
    }
}

void OnEndElement(void *context, const xmlChar *localName, const xmlChar *prefix, const xmlChar *uri) {
    StreamState &state = StateOf(context);
    if (state.matched == state.depth && state.depth > 0) {
        --state.matched;
        state.inside = false;
    }
    --state.depth;
    xmlSAX2EndElementNs(context, localName, prefix, uri);
}

}  // namespace

XmlStreamParser::XmlStreamParser() : state_(std::make_unique<State>()) {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });  // before parses on several threads
}

XmlStreamParser::~XmlStreamParser() {
    if (state_->context && state_->context->myDoc != nullptr) {
        XmlDocument unfinished(state_->context->myDoc);  // wiped and freed
        state_->context->myDoc = nullptr;
    }
}

void XmlStreamParser::DivertText(std::vector<std::string> path, std::function<void(std::string_view)> text) {
    state_->path = std::move(path);
    state_->divert = std::move(text);
}

bool XmlStreamParser::Diverted() const { return state_->found; }

void XmlStreamParser::Configure() {
    xmlParserCtxt *context = state_->context.get();
    context->_private = state_.get();
    context->sax->serror = OnParseError;
    context->sax->internalSubset = RefuseDocumentType;
    if (state_->divert) {
        context->sax->characters = OnCharacters;
        context->sax->ignorableWhitespace = OnCharacters;
        context->sax->cdataBlock = OnCData;
        context->sax->startElementNs = OnStartElement;
        context->sax->endElementNs = OnEndElement;
    }
    xmlCtxtUseOptions(context, XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

namespace {

int ReadThrough(void *context, char *buffer, int length) {
    auto &read = *static_cast<std::function<int(char *, int)> *>(context);
    return read(buffer, length);
}

}  // namespace

XmlDocument XmlStreamParser::ParseFrom(const std::function<int(char *, int)> &read, std::string &reason) {
    State &state = *state_;
    if (state.context) throw std::logic_error("XmlStreamParser: one parse per parser");
    // The reader is called from inside the parser: whatever it throws waits until the parse is over.
    // libxml2 reads as from a file: each read is filled, short only at the end. A reader giving
    // small pieces would hide a byte-order mark or an XML declaration from the parser's first look.
    std::function<int(char *, int)> guarded = [&](char *buffer, int length) {
        if (state.failure) return -1;
        try {
            int got = 0;
            while (got < length) {
                int more = read(buffer + got, length - got);
                if (more < 0 && got == 0) return -1;
                if (more <= 0) break;
                got += more;
            }
            return got;
        } catch (...) {
            state.failure = std::current_exception();
            return -1;
        }
    };
    {
        ErrorRoute route(&state.errors);
        state.context.reset(
            xmlCreateIOParserCtxt(nullptr, nullptr, ReadThrough, nullptr, &guarded, XML_CHAR_ENCODING_NONE));
        if (!state.context) throw std::bad_alloc();
        Configure();
        xmlParseDocument(state.context.get());
    }
    if (state.failure) std::rethrow_exception(state.failure);
    return Result(reason);
}

XmlDocument XmlStreamParser::ParseAll(const void *data, size_t size, std::string &reason) {
    // Read in pieces, as from a file: libxml2 2.9's in-place reading of a buffer misread valid
    // documents depending on the bytes after them, and scans a long text to its end before it
    // reports any of it.
    const char *bytes = static_cast<const char *>(data);
    size_t at = 0;
    return ParseFrom(
        [&](char *buffer, int length) {
            size_t take = std::min(static_cast<size_t>(length), size - at);
            std::memcpy(buffer, bytes + at, take);
            at += take;
            return static_cast<int>(take);
        },
        reason);
}

XmlDocument XmlStreamParser::Result(std::string &reason) {
    State &state = *state_;
    xmlParserCtxt *context = state.context.get();
    XmlDocument doc(context->myDoc);
    context->myDoc = nullptr;
    if (context->wellFormed == 0 || !state.errors.first.empty() || !doc || doc.get()->intSubset != nullptr) {
        doc.Reset();
        reason = !state.errors.first.empty() ? state.errors.first : "the document could not be read";
    }
    return doc;
}

XmlDocument ParseXmlBytes(const void *data, size_t size, std::string &reason) {
    return XmlStreamParser().ParseAll(data, size, reason);
}

}  // namespace zolm::starter
