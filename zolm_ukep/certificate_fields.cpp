// Certificate line fields and their exact text layout.
#include "zolm_ukep/certificate_fields.h"

#include <cstdio>

#include "common/name_tables.h"

namespace ukep {

std::string HexId(const softcsp::Bytes &digest) {
    if (digest.size() != 20) return "";
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(40);
    for (uint8_t b : digest) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

std::string Base64(std::string_view bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
    }
    if (size_t rest = bytes.size() - i) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | (rest == 2 ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
        out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], rest == 2 ? kAlphabet[(v >> 6) & 63] : '=', '='};
    }
    return out;
}

namespace {

constexpr char kSurnameOid[] = "2.5.4.4";
constexpr char kGivenNameOid[] = "2.5.4.42";
constexpr char kCommonNameOid[] = "2.5.4.3";

// Only the double quote is escaped; backslashes and control characters pass as they are, which is
// what the application reading this JSON expects.
std::string EscapeQuotes(const std::string &value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

SubjectFields DescribeSubject(const softcsp::DecodedName &subject) {
    std::string items, surname, givenName;
    for (const auto &rdn : subject) {
        for (const auto &attribute : rdn) {
            if (attribute.oid == kSurnameOid) surname = attribute.value;
            if (attribute.oid == kGivenNameOid) givenName = attribute.value;
            const auto *row = zolm::FindSubjectAttributeByOid(attribute.oid);
            items += "{\"OID\":\"";
            items += row != nullptr ? row->name : attribute.oid;
            items += "\",\"OIDCODE\":\"" + attribute.oid + "\",";
            items += "\"VALUE\":\"" + EscapeQuotes(attribute.value) + "\"},";
        }
    }
    if (!items.empty()) items.pop_back();
    return {"[" + items + "]", surname + " " + givenName};
}

std::string IssuerCommonName(const softcsp::DecodedName &issuer) {
    std::string name;
    for (const auto &rdn : issuer) {
        for (const auto &attribute : rdn) {
            if (attribute.oid == kCommonNameOid) {
                name = attribute.value;
                break;
            }
        }
    }
    return name;
}

std::string CertificateLine(const CertificateLineFields &f) {
    char times[33];
    std::snprintf(times, sizeof times, "%08X%08X%08X%08X", uint32_t(f.notBefore >> 32), uint32_t(f.notBefore),
                  uint32_t(f.notAfter >> 32), uint32_t(f.notAfter));
    return f.id + ":" + Base64(f.displayName) + "|" + times + "|" + Base64(f.subjectJson) + "|" + Base64(f.shortName) +
           "|" + Base64(f.issuerName);
}

}  // namespace ukep
