// Matching the plug-in's texts in tests: CryptoAPI failures end with "(<file>:<line>)", whose line
// number the test does not fix; container names are lower-case GUIDs.
#pragma once

#include <cctype>
#include <string>

namespace cryptopro::testing {

// text is exactly head + " (" + file + ":" + decimal line + ")".
inline bool IsFailureText(const std::string &text, const std::string &head, const std::string &file) {
    std::string start = head + " (" + file + ":";
    if (text.size() < start.size() + 2 || text.compare(0, start.size(), start) != 0 || text.back() != ')') return false;
    std::string line = text.substr(start.size(), text.size() - start.size() - 1);
    if (line.empty()) return false;
    for (char c : line)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// 8-4-4-4-12 lower-case hexadecimal digits.
inline bool IsLowerGuid(const std::string &text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace cryptopro::testing
