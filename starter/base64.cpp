#include "starter/base64.h"

#include <array>

namespace zolm::starter {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int8_t kSkip = -1, kPad = -2;

constexpr std::array<int8_t, 256> MakeTable() {
    std::array<int8_t, 256> table{};
    for (auto &entry : table) entry = kSkip;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    table['='] = kPad;
    return table;
}
constexpr std::array<int8_t, 256> kTable = MakeTable();

}  // namespace

std::string Base64Encode(const void *data, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        uint32_t group = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 63];
        text += kAlphabet[(group >> 6) & 63];
        text += kAlphabet[group & 63];
    }
    if (size - i == 1) {
        uint32_t group = uint32_t(bytes[i]) << 16;
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 63];
        text += "==";
    } else if (size - i == 2) {
        uint32_t group = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8);
        text += kAlphabet[group >> 18];
        text += kAlphabet[(group >> 12) & 63];
        text += kAlphabet[(group >> 6) & 63];
        text += '=';
    }
    return text;
}

std::optional<SecureBytes> Base64Decode(std::string_view text) {
    // Counted without branches: this pass runs over answers of a hundred megabytes.
    size_t sextets = 0, pads = 0;
    for (char c : text) {
        int8_t value = kTable[static_cast<unsigned char>(c)];
        sextets += value != kSkip;
        pads += value == kPad;
    }
    if (pads > 2 || sextets == 0 || sextets % 4 != 0) return std::nullopt;
    size_t size = sextets / 4 * 3 - pads;
    SecureBytes bytes(size);
    uint8_t *out = bytes.data();
    size_t written = 0;
    uint32_t group = 0;
    int count = 0;
    const auto *at = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = at + text.size();
    while (at < end) {
        // Four plain sextets in a row, the usual case: one group at once.
        if (count == 0 && end - at >= 4 && written + 3 <= size) {
            int32_t a = kTable[at[0]], b = kTable[at[1]], c = kTable[at[2]], d = kTable[at[3]];
            if ((a | b | c | d) >= 0) {
                uint32_t four = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
                out[written] = uint8_t(four >> 16);
                out[written + 1] = uint8_t(four >> 8);
                out[written + 2] = uint8_t(four);
                written += 3;
                at += 4;
                continue;
            }
        }
        int8_t value = kTable[*at++];
        if (value == kSkip) continue;
        group = (group << 6) | static_cast<uint32_t>(value == kPad ? 0 : value);
        if (++count < 4) continue;
        // Pads cut bytes off the end of the result, wherever they stood.
        const uint8_t three[3] = {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)};
        for (uint8_t byte : three)
            if (written < size) out[written++] = byte;
        group = 0;
        count = 0;
    }
    return bytes;
}

}  // namespace zolm::starter
