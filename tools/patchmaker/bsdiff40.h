// BSDIFF40 patches for the patch maker: Debian's bsdiff program where it can diff, and a patch that
// carries the whole new file where it cannot (bsdiff refuses empty files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolm::patchmaker {

// A BSDIFF40 patch that turns any old file into content (one control triple: no diff bytes, the
// whole content as extra bytes). std::runtime_error when compression fails.
std::vector<uint8_t> WholeFilePatch(const std::vector<uint8_t> &content);

// The patch from oldFile to newFile: bsdiff's when both are non-empty, WholeFilePatch otherwise.
// std::runtime_error when bsdiff cannot be run or fails.
std::vector<uint8_t> MakePatch(const std::string &oldFile, const std::string &newFile);

}  // namespace zolm::patchmaker
