// The parts of a certification request that the plug-in encodes itself (DER): the subject as
// UTF8String RDNs, the four requested extensions and the request information that the CSP signs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cryptopro {

using Bytes = std::vector<uint8_t>;

// What a request carries, taken from the certification server's template.
struct RequestContent {
    std::vector<std::pair<std::string, std::string>> subject;  // (attribute OID, value), in RDN order
    bool keyUsageCritical = false;
    std::vector<std::string> keyUsage;  // flag names
    bool extendedKeyUsageCritical = false;
    std::vector<std::string> extendedKeyUsage;  // OIDs
    bool policiesCritical = false;
    std::vector<std::string> policies;  // OIDs
    std::string signTool;
    std::string signAlgorithm;  // OID
};

// The first key-usage byte: digitalSignature 0x80, nonRepudiation 0x40, keyEncipherment 0x20,
// dataEncipherment 0x10; other names (and other spellings) add nothing.
uint8_t KeyUsageBits(const std::vector<std::string> &names);

// Text of the narrow code page (UTF-8 here) as UTF-8 for a UTF8String: invalid bytes become U+FFFD,
// as a conversion without MB_ERR_INVALID_CHARS does.
std::string AnsiToUtf8(const std::string &text);

// DER of an OID in dotted form; false for text that is no OID.
bool EncodeOid(const std::string &dotted, Bytes *der);

// Name: one RDN per entry. Raises the CryptEncodeObject failure for an attribute type that is no OID.
Bytes EncodeSubject(const std::vector<std::pair<std::string, std::string>> &subject);
// Extensions: keyUsage, extKeyUsage, certificatePolicies, subjectSignTool, in this order.
Bytes EncodeExtensions(const RequestContent &content);
// CertificationRequestInfo: version 0, subject, key, the extension request attribute.
Bytes EncodeRequestInfo(const Bytes &subject, const Bytes &publicKeyInfo, const Bytes &extensions);

}  // namespace cryptopro
