// Hex text for test scripts and assertions: "00 A4 00 00" or "00A40000" in, "00A40000" out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zolm::pcsc::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes HexBytes(const std::string &hex) {
    Bytes bytes;
    std::string digits;
    for (char c : hex)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::string HexText(const uint8_t *data, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

inline std::string HexText(const Bytes &bytes) { return HexText(bytes.data(), bytes.size()); }

}  // namespace zolm::pcsc::testing
