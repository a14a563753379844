// The shared data block that the host application creates: POSIX shared memory "/zolm_shared_data".
// The plug-ins read only the layout version and the language of their messages from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolm {

// Layout as far as the system reads it; the rest of the block belongs to the host.
constexpr int32_t kSharedDataVersion = 6;        // little-endian int32 at offset 0
constexpr size_t kSharedDataLanguageOffset = 5;  // one byte: 0 Russian, 1 English
constexpr size_t kSharedDataMinimumSize = kSharedDataLanguageOffset + 1;
constexpr const char kSharedDataDefaultName[] = "/zolm_shared_data";

enum Language : int { kRussian = 0, kEnglish = 1 };

// "/zolm_shared_data", or the name in $ZOLM_SHARED_DATA_NAME (given a leading "/" if it lacks one).
// The variable exists so that tests running side by side each get a block of their own.
std::string SharedDataName();

// The language of the next message text. While no view is held the block is looked for afresh:
// missing, unmappable, too small or of another version all mean Russian, silently. A view that passed
// the version check stays mapped for the life of the process, so the host's later changes of the
// language byte apply at once. A language byte above 1 means Russian.
Language CurrentLanguage() noexcept;

// For tests that run many cases in one process: drops the held view as if the process had restarted.
void ForgetSharedDataView() noexcept;

}  // namespace zolm
