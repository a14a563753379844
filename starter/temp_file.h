// TempFileU: temporary files and whole-file reading and writing. Failures raise StarterError through
// RaiseLastError with the call names below; nothing here retries or talks to the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "starter/wipe_mem.h"

namespace zolm::starter {

// A new, empty file, created exclusively with mode 0600 in $TMPDIR (when set and not empty) or /tmp,
// named "tmp" plus a unique suffix. Raises "GetTempPath" when the folder is unusable and
// "GetTempFileName" when the file cannot be created. The caller deletes it.
std::string CreateTempFile();

// The whole file. Raises "CreateFile("%s")" when it does not open (or is not a regular file) and
// "ReadFile("%s")" when reading fails or ends early (then with EIO). The bytes are wiped when the
// buffer goes.
SecureBytes ReadWholeFile(const std::string &path);

// Writes length bytes (nothing when data is null or length is 0) and flushes them to disk. replace:
// create or truncate; otherwise the file must not exist yet. Raises "CreateFile("%s")",
// "WriteFile("%s")" (EIO on a short write) or "FlushFileBuffers("%s")".
void WriteWholeFile(const std::string &path, const void *data, size_t length, bool replace);

// Looks up one of the starter's embedded resources by name; empty when there is none.
using ResourceLookup = std::optional<std::span<const uint8_t>> (*)(std::string_view name);
std::optional<std::span<const uint8_t>> EmbeddedResource(std::string_view name);

// A new temporary file holding the named resource's bytes, flushed; the path is the caller's to
// delete. Raises as CreateTempFile, "FindResource("%s")" when there is no such resource, and
// "CreateFile("%s")", "WriteFile("%s")", "FlushFileBuffers("%s")", "SetEndOfFile("%s")"; on failure the
// temporary file is removed again.
std::string WriteResourceToTempFile(std::string_view name, ResourceLookup lookup = EmbeddedResource);

}  // namespace zolm::starter
