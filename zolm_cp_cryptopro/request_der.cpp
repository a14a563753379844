// DER encoding of the request's parts.
#include "zolm_cp_cryptopro/request_der.h"

#include <cstdlib>

#include "zolm_cp_cryptopro/cryptoapi_error.h"

namespace cryptopro {
namespace {

constexpr uint32_t kInvalidArgument = 0x80070057;  // E_INVALIDARG

void Append(Bytes &out, const Bytes &part) { out.insert(out.end(), part.begin(), part.end()); }

Bytes Tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        Bytes digits;
        for (size_t n = length; n != 0; n >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(n));
        out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
        Append(out, digits);
    }
    Append(out, content);
    return out;
}

Bytes Oid(const std::string &dotted, const char *operation) {
    Bytes der;
    if (!EncodeOid(dotted, &der)) CRYPTOAPI_FAILURE(operation, kInvalidArgument);
    return der;
}

Bytes Utf8String(const std::string &text) {
    std::string utf8 = AnsiToUtf8(text);
    return Tlv(0x0C, Bytes(utf8.begin(), utf8.end()));
}

// Extension ::= SEQUENCE { extnID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
Bytes Extension(const char *oid, bool critical, const Bytes &value) {
    Bytes body = Oid(oid, "CryptEncodeObject");
    if (critical) Append(body, Bytes{0x01, 0x01, 0xFF});
    Append(body, Tlv(0x04, value));
    return Tlv(0x30, body);
}

}  // namespace

uint8_t KeyUsageBits(const std::vector<std::string> &names) {
    static const std::pair<const char *, uint8_t> kFlags[] = {
        {"digitalSignature", 0x80}, {"nonRepudiation", 0x40}, {"keyEncipherment", 0x20}, {"dataEncipherment", 0x10}};
    uint8_t bits = 0;
    for (const auto &name : names)
        for (const auto &[flag, bit] : kFlags)
            if (name == flag) bits |= bit;
    return bits;
}

std::string AnsiToUtf8(const std::string &text) {
    std::string out;
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size(), i = 0;
    while (i < n) {
        unsigned char c = s[i];
        size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 99;
        bool ok = extra != 99;
        if (!ok) extra = 0;
        uint32_t code = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; ok && k <= extra; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                code = (code << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are invalid too.
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (code < kMin[extra] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)) ok = false;
        if (ok) {
            out.append(text, i, extra + 1);
            i += extra + 1;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

bool EncodeOid(const std::string &dotted, Bytes *der) {
    std::vector<uint64_t> arcs;
    size_t i = 0;
    while (i <= dotted.size()) {
        size_t dot = dotted.find('.', i);
        std::string part = dotted.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
        if (part.empty() || part.size() > 18 || part.find_first_not_of("0123456789") != std::string::npos) return false;
        arcs.push_back(std::strtoull(part.c_str(), nullptr, 10));
        if (dot == std::string::npos) break;
        i = dot + 1;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return false;
    Bytes body;
    auto base128 = [&body](uint64_t value) {
        Bytes digits{static_cast<uint8_t>(value & 0x7F)};
        for (value >>= 7; value != 0; value >>= 7)
            digits.insert(digits.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
        Append(body, digits);
    };
    base128(arcs[0] * 40 + arcs[1]);
    for (size_t k = 2; k < arcs.size(); ++k) base128(arcs[k]);
    *der = Tlv(0x06, body);
    return true;
}

Bytes EncodeSubject(const std::vector<std::pair<std::string, std::string>> &subject) {
    Bytes rdns;
    for (const auto &[oid, value] : subject) {
        Bytes attribute = Oid(oid, "CryptEncodeObject");
        Append(attribute, Utf8String(value));
        Append(rdns, Tlv(0x31, Tlv(0x30, attribute)));
    }
    return Tlv(0x30, rdns);
}

Bytes EncodeExtensions(const RequestContent &content) {
    // KeyUsage as a named bit list: trailing zero bits are not encoded.
    uint8_t bits = KeyUsageBits(content.keyUsage);
    Bytes keyUsage = bits == 0 ? Bytes{0x00} : Bytes{static_cast<uint8_t>(__builtin_ctz(bits)), bits};
    Bytes eku, policies;
    for (const auto &oid : content.extendedKeyUsage) Append(eku, Oid(oid, "CryptEncodeObject"));
    for (const auto &oid : content.policies) Append(policies, Tlv(0x30, Oid(oid, "CryptEncodeObject")));
    Bytes list;
    Append(list, Extension("2.5.29.15", content.keyUsageCritical, Tlv(0x03, keyUsage)));
    Append(list, Extension("2.5.29.37", content.extendedKeyUsageCritical, Tlv(0x30, eku)));
    Append(list, Extension("2.5.29.32", content.policiesCritical, Tlv(0x30, policies)));
    Append(list, Extension("1.2.643.100.111", false, Utf8String(content.signTool)));
    return Tlv(0x30, list);
}

Bytes EncodeRequestInfo(const Bytes &subject, const Bytes &publicKeyInfo, const Bytes &extensions) {
    Bytes body{0x02, 0x01, 0x00};
    Append(body, subject);
    Append(body, publicKeyInfo);
    Bytes attribute = Oid("1.2.840.113549.1.9.14", "CryptEncodeObject");
    Append(attribute, Tlv(0x31, extensions));
    Append(body, Tlv(0xA0, Tlv(0x30, attribute)));
    return Tlv(0x30, body);
}

}  // namespace cryptopro
