// The two-language message table of the key-medium operations. Texts are printf formats (UTF-8);
// the row is chosen by the language of the shared data block at the moment a text is needed.
#pragma once

#include <string>

#include "common/shared_data.h"

namespace zolm {

// Index into a row of the table; the comments name the %s arguments.
enum class MediumMessage : int {
    kReadFile = 0,     // file name
    kWriteFile = 1,    // file name
    kReplaceFile = 2,  // file name; a question, not an error
    kDeleteFile = 3,   // file name
    kRenameFile = 4,   // current name, new name
    kFileExists = 5,   // file name
    kSerialNumber = 6,
    kReleaseMemory = 7,
    kMediumPath = 8,
    kSlotNumber = 9,
    kMediumPassword = 10,
    kLocalCertificate = 11,
};
constexpr int kMediumMessageCount = 12;

// The format text of the table.
const char *MediumMessageFormat(MediumMessage index, Language language) noexcept;

// The text in the current language with its arguments filled in.
std::string MediumMessageText(MediumMessage index, ...);

// Raises formatted_exception with the text in the current language, arguments filled in.
[[noreturn]] void RaiseMediumMessage(MediumMessage index, ...);

}  // namespace zolm
