// The XML documents of the starter on libxml2: parsing from bytes with the document's own encoding,
// XPath selection and node texts. The only module that sees libxml2.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace zolm::starter {

// A node of a document; valid while its document lives.
class XmlNode {
public:
    explicit XmlNode(_xmlNode *node) : node_(node) {}

    // The node's local name ("" for the document node).
    std::string LocalName() const;
    // The text of the node and all its descendants; an attribute's value.
    std::string Text() const;
    // An element's attribute without a namespace; nothing when the element has none of that name.
    std::optional<std::string> Attribute(const char *name) const;
    // The same text without a copy when it is one text node, else copied into storage; the view ends
    // with the document (or storage).
    std::string_view TextView(std::string &storage) const;
    // The first node the XPath expression selects from this node, or nothing.
    std::optional<XmlNode> SelectSingleNode(const char *xpath) const;
    // Every node it selects, in document order.
    std::vector<XmlNode> SelectNodes(const char *xpath) const;

    _xmlNode *get() const { return node_; }

private:
    _xmlNode *node_;
};

// Owns a parsed document. Its texts are zeroed before it is freed (answers may carry patch data).
class XmlDocument {
public:
    XmlDocument() = default;
    explicit XmlDocument(_xmlDoc *doc) : doc_(doc) {}
    explicit operator bool() const { return doc_ != nullptr; }
    // The document node, from which absolute and relative expressions are evaluated.
    XmlNode Node() const;
    std::optional<XmlNode> SelectSingleNode(const char *xpath) const { return Node().SelectSingleNode(xpath); }
    std::vector<XmlNode> SelectNodes(const char *xpath) const { return Node().SelectNodes(xpath); }
    void Reset() { doc_.reset(); }
    _xmlDoc *get() const { return doc_.get(); }

private:
    struct Free {
        void operator()(_xmlDoc *doc) const;
    };
    std::unique_ptr<_xmlDoc, Free> doc_;
};

// Parses bytes as an XML document, the encoding taken from the document itself (byte-order mark or
// XML declaration, UTF-8 by default). The bytes are read a piece at a time. Large texts
// are allowed; a document type declaration (and with it any entity definition) is refused, so nothing
// is loaded from elsewhere or expanded. On failure: an empty document and the parser's reason.
XmlDocument ParseXmlBytes(const void *data, size_t size, std::string &reason);

// The same parse with more say: text diverted while parsing, bytes taken from a reader.
class XmlStreamParser {
public:
    XmlStreamParser();
    ~XmlStreamParser();
    XmlStreamParser(const XmlStreamParser &) = delete;
    XmlStreamParser &operator=(const XmlStreamParser &) = delete;

    // Before the parse: the text below the first element that the local names lead to from the
    // root (elements without a namespace), as XPath would find it, goes to text instead of into the
    // document (a text of a hundred megabytes need not be built only to be decoded). An exception
    // from text stops the parse and comes out of it.
    void DivertText(std::vector<std::string> path, std::function<void(std::string_view)> text);
    // Whether that element was found.
    bool Diverted() const;

    // One parse per parser. The document, or an empty one and the parser's reason.
    // Bytes that are all at hand, read a piece at a time as the parser asks for them, so that a
    // long text is reported as it goes.
    XmlDocument ParseAll(const void *data, size_t size, std::string &reason);
    // On a thread that may wait for its bytes: the parser asks for them through read (bytes put
    // into the buffer of the given size; 0 at the end, -1 to give up) and reads its text as it comes.
    XmlDocument ParseFrom(const std::function<int(char *buffer, int size)> &read, std::string &reason);

    struct State;

private:
    void Configure();
    XmlDocument Result(std::string &reason);
    std::unique_ptr<State> state_;
};

}  // namespace zolm::starter
