// Filling the Parts' message formats: each "%s" or "%d" takes the next argument as it stands, so an
// argument is never read as a format itself.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zolm::starter {

// "%%" gives "%"; a placeholder without an argument stays empty.
std::string FillFormat(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace zolm::starter
