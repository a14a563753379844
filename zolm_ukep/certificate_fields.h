// The fields of a certificate line: id, subject JSON, short name, issuer name, and the list text.
// Pure functions over decoded names and bytes, so each rule is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/softcsp/csp.h"

namespace ukep {

// 40 upper-case hexadecimal digits of a 20-byte digest; empty for any other length.
std::string HexId(const softcsp::Bytes &digest);

// RFC 4648 Base64 with padding and no line breaks; "" for "".
std::string Base64(std::string_view bytes);

struct SubjectFields {
    std::string json;       // [{"OID":name,"OIDCODE":oid,"VALUE":value},...]; "[]" without attributes
    std::string shortName;  // surname + " " + given name (the last of each wins)
};
SubjectFields DescribeSubject(const softcsp::DecodedName &subject);

// The value of the last RDN's first commonName; "" without one.
std::string IssuerCommonName(const softcsp::DecodedName &issuer);

struct CertificateLineFields {
    std::string id, displayName, subjectJson, shortName, issuerName;
    uint64_t notBefore = 0, notAfter = 0;
};
// "%s:%s|%08X%08X%08X%08X|%s|%s|%s" with the free-text fields in Base64.
std::string CertificateLine(const CertificateLineFields &fields);

}  // namespace ukep
