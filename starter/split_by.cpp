// Splitting at a separator, case-insensitively, and trimming.
#include "starter/split_by.h"

#include <algorithm>

namespace zolm::starter {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string TrimBlanks(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

SplitResult SplitBy(std::string_view text, std::string_view separator, bool trim) {
    SplitResult result;
    auto equal = [](char a, char b) { return Upper(a) == Upper(b); };
    auto hit = separator.empty() ? text.end()
                                 : std::search(text.begin(), text.end(), separator.begin(), separator.end(), equal);
    if (hit == text.end()) {
        result.before = std::string(text);
        return result;
    }
    size_t at = static_cast<size_t>(hit - text.begin());
    result.found = true;
    result.before = std::string(text.substr(0, at));
    result.after = std::string(text.substr(at + separator.size()));
    if (trim) {
        result.before = TrimBlanks(result.before);
        result.after = TrimBlanks(result.after);
    }
    return result;
}

}  // namespace zolm::starter
