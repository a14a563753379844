// The XML documents of the starter on libxml2: parsing from bytes with the document's own encoding,
// XPath selection and node texts. The only module that sees libxml2.
#pragma once

#include <cstddef>
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
// XML declaration, UTF-8 by default). The bytes are read in place, a piece at a time. Large texts
// are allowed; a document type declaration (and with it any entity definition) is refused, so nothing
// is loaded from elsewhere or expanded. On failure: an empty document and the parser's reason.
XmlDocument ParseXmlBytes(const void *data, size_t size, std::string &reason);

}  // namespace zolm::starter
