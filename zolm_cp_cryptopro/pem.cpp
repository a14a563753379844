// Base64 and PEM for requests and certificates.
#include "zolm_cp_cryptopro/pem.h"

#include "common/formatted_exception.h"
#include "zolm_cp_cryptopro/texts.h"

namespace cryptopro {
namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string Base64(const uint8_t *data, size_t length) {
    std::string text;
    text.reserve((length + 2) / 3 * 4);
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < length) group |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (i + 2 < length) group |= data[i + 2];
        text.push_back(kAlphabet[(group >> 18) & 63]);
        text.push_back(kAlphabet[(group >> 12) & 63]);
        text.push_back(i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=');
        text.push_back(i + 2 < length ? kAlphabet[group & 63] : '=');
    }
    return text;
}

std::string PemArmour(const std::vector<uint8_t> &der, const char *label) {
    if (der.size() > kPemLimit) throw formatted_exception("%s", kPemOverflow);
    std::string base64 = Base64(der.data(), der.size());
    std::string text = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t i = 0; i < base64.size(); i += 64) text += base64.substr(i, 64) + "\n";
    text += std::string("-----END ") + label + "-----\n";
    return text;
}

bool PemToDer(const std::string &text, std::vector<uint8_t> *der) {
    size_t begin = text.find("-----BEGIN ");
    if (begin == std::string::npos) return false;
    size_t bodyStart = text.find("-----", begin + 11);
    if (bodyStart == std::string::npos) return false;
    bodyStart += 5;
    size_t end = text.find("-----END ", bodyStart);
    if (end == std::string::npos) return false;
    der->clear();
    uint32_t group = 0;
    int bits = 0, padding = 0;
    for (size_t i = bodyStart; i < end; ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        int value = Sextet(c);
        if (value < 0 || padding != 0) return false;
        group = (group << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            der->push_back(static_cast<uint8_t>(group >> bits));
            group &= (1u << bits) - 1;
        }
    }
    return !der->empty() && padding <= 2;
}

}  // namespace cryptopro
