// XML-RPC documents as the update server writes and reads them, for tests that play the server.
#pragma once

#include <string>

#include "starter/base64.h"
#include "starter/xml_document.h"

namespace zolm::starter::testing {

// The method response carrying the inner document as its base64 string.
inline std::string MethodResponse(const std::string &innerDocument) {
    return "<?xml version=\"1.0\"?><methodResponse><params><param><value><string>" + Base64Encode(innerDocument) +
           "</string></value></param></params></methodResponse>";
}

// The inner request document of a method call's envelope; empty when there is none to read.
inline XmlDocument InnerRequest(const std::string &envelope) {
    std::string reason;
    XmlDocument outer = ParseXmlBytes(envelope.data(), envelope.size(), reason);
    auto text = outer ? outer.SelectSingleNode("/methodCall/params/param/value/string") : std::nullopt;
    if (!text) return {};
    auto bytes = Base64Decode(text->Text());
    if (!bytes) return {};
    return ParseXmlBytes(bytes->data(), bytes->size(), reason);
}

}  // namespace zolm::starter::testing
