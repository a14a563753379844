// SplitByU: splitting a text at a separator, and the blank trimming used throughout the starter.
#pragma once

#include <string>
#include <string_view>

namespace zolm::starter {

struct SplitResult {
    bool found = false;
    std::string before;
    std::string after;
};

// Splits text at the first occurrence of separator, compared without regard to ASCII case. Found:
// the parts before and after it, both trimmed when trim is set. Not found (or an empty separator):
// before is the text unchanged (never trimmed), after is empty.
SplitResult SplitBy(std::string_view text, std::string_view separator, bool trim);

// The text without the blanks and control characters (codes up to 32) around it.
std::string TrimBlanks(std::string_view text);

}  // namespace zolm::starter
