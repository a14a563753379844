#include "starter/base64.h"

#include <array>
#include <cstring>

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

// The sextet of a character already moved to its place in a group of four, one table per place;
// characters outside the alphabet (and "=") carry a bit above the 24 a group fills.
constexpr uint32_t kOutside = 1u << 24;
using Placed = std::array<std::array<uint32_t, 256>, 4>;
constexpr Placed MakePlaced() {
    Placed placed{};
    for (int place = 0; place < 4; ++place)
        for (int c = 0; c < 256; ++c)
            placed[place][c] = kTable[c] >= 0 ? uint32_t(kTable[c]) << (18 - 6 * place) : kOutside;
    return placed;
}
constexpr Placed kPlaced = MakePlaced();

// Room a decoding needs beyond three bytes per four characters: an unfinished group carried in
// from an earlier piece, and the fourth byte of a four-byte store.
constexpr size_t kSpare = 8;
// Bytes the streaming decoder keeps back (pads may cut off up to two), and its piece of text.
constexpr size_t kHeld = 2;
constexpr size_t kSlice = 64 * 1024;

// Stores the three bytes of a group with one four-byte store; the fourth byte is overwritten next.
inline uint8_t *Put(uint8_t *out, uint32_t group) {
    uint32_t bigEndian = __builtin_bswap32(group << 8);
    std::memcpy(out, &bigEndian, 4);
    return out + 3;
}

}  // namespace

bool DecodeState::Valid() const { return pads <= 2 && sextets != 0 && sextets % 4 == 0; }

size_t DecodeInto(DecodeState &state, std::string_view text, uint8_t *out) {
    const auto *at = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = at + text.size();
    uint8_t *const first = out;
    for (;;) {
        if (state.count == 0) {
            // Groups of four alphabet characters, the usual case, two at a time where possible.
            while (end - at >= 8) {
                uint32_t a = kPlaced[0][at[0]] | kPlaced[1][at[1]] | kPlaced[2][at[2]] | kPlaced[3][at[3]];
                uint32_t b = kPlaced[0][at[4]] | kPlaced[1][at[5]] | kPlaced[2][at[6]] | kPlaced[3][at[7]];
                if (((a | b) & kOutside) != 0) break;
                out = Put(Put(out, a), b);
                at += 8;
                state.sextets += 8;
            }
            while (end - at >= 4) {
                uint32_t a = kPlaced[0][at[0]] | kPlaced[1][at[1]] | kPlaced[2][at[2]] | kPlaced[3][at[3]];
                if ((a & kOutside) != 0) break;
                out = Put(out, a);
                at += 4;
                state.sextets += 4;
            }
        }
        if (at == end) break;
        // One character at a time: blanks, line breaks, pads and groups they split.
        int8_t value = kTable[*at++];
        if (value == kSkip) continue;
        ++state.sextets;
        if (value == kPad) ++state.pads;
        state.group = (state.group << 6) | static_cast<uint32_t>(value == kPad ? 0 : value);
        if (++state.count < 4) continue;
        out = Put(out, state.group);
        state.group = 0;
        state.count = 0;
    }
    return static_cast<size_t>(out - first);
}

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
    SecureBytes bytes(text.size() / 4 * 3 + kSpare);
    DecodeState state;
    size_t written = DecodeInto(state, text, bytes.data());
    if (!state.Valid()) return std::nullopt;
    bytes.Shrink(written - state.pads);
    return bytes;
}

Base64Decoder::Base64Decoder(Sink sink) : sink_(std::move(sink)), buffer_(kHeld + kSlice / 4 * 3 + kSpare) {}

void Base64Decoder::Feed(std::string_view text) {
    while (!text.empty()) {
        std::string_view slice = text.substr(0, kSlice);
        text.remove_prefix(slice.size());
        held_ += DecodeInto(state_, slice, buffer_.data() + held_);
        // The last bytes wait: pads further on may still cut them off.
        if (held_ > kHeld) {
            sink_(buffer_.data(), held_ - kHeld);
            std::memmove(buffer_.data(), buffer_.data() + held_ - kHeld, kHeld);
            held_ = kHeld;
        }
    }
}

bool Base64Decoder::Finish() {
    bool valid = state_.Valid();
    if (valid && held_ > state_.pads) sink_(buffer_.data(), held_ - state_.pads);
    buffer_.Wipe();
    held_ = 0;
    return valid;
}

}  // namespace zolm::starter
