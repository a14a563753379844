// Key-medium operations: the plug-ins reach a medium's files only through the host table stored by
// cp_Init (zolm::Host()). Each operation raises formatted_exception with the message table's text in the
// current language when a host function reports failure. Texts and blocks the host hands out are
// copied and then given back, also when copying fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/memory_buffer.h"

namespace zolm {

// medium.getPath, then medium.releaseMemory(text, length + 1). The directory ends with "/".
// Raises text 8 when the path cannot be had, text 7 when giving it back fails.
std::string MediumPath(uint32_t medium);

// medium.getSerialNumber, then general.releaseMemory(text, length + 1). Raises text 6.
std::string SerialNumber(uint32_t medium);

// parameters.getParameter, then general.releaseMemory(text, length + 1). The host has no failure
// result here; a null text is reported as an error nonetheless.
std::string HostParameter(uint32_t medium, const std::string &name);

// medium.fileExists. Raises text 5.
bool FileExists(uint32_t medium, const std::string &name);

// medium.readFile, then general.releaseMemory(block, length), whose result is not examined.
// Raises text 0.
CMemoryBufferPtr ReadFile(uint32_t medium, const std::string &name);

// File exists, then read file when it does; null when the file is absent. Raises text 5 or 0.
CMemoryBufferPtr ReadFileIfPresent(uint32_t medium, const std::string &name);

// medium.writeFile with exactly these bytes. Raises text 1.
void WriteFile(uint32_t medium, const std::string &name, const void *data, size_t length);
void WriteFile(uint32_t medium, const std::string &name, const CMemoryBuffer &buffer);

// File exists; when it does, general.confirm with text 2 and no write on a "no". Then write file.
// True when written, false when the user refused. Raises text 5 or 1.
bool WriteFileAfterAsking(uint32_t medium, const std::string &name, const CMemoryBuffer &buffer);

// File exists; medium.deleteFile only when it does. Raises text 5 or 3.
void DeleteFileIfPresent(uint32_t medium, const std::string &name);

// medium.renameFile; the host replaces an existing file of the new name. Raises text 4.
void RenameFile(uint32_t medium, const std::string &from, const std::string &to);

}  // namespace zolm
