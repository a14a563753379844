// SHA1_DCP: the digests of patch application.
#pragma once

#include <string>

namespace zolm::starter {

// The SHA-1 of the file's bytes as 40 upper-case hexadecimal digits, or the empty text when no file
// of that path exists (a folder is not a file). Raises "CreateFile("%s")" or "ReadFile("%s")" when
// the file exists but cannot be read; a special file (pipe, device) counts as unreadable.
std::string FileSha1(const std::string &path);

}  // namespace zolm::starter
