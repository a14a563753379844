// LastErrorU: the wording of errors after failed system calls, "Вызов %s вернул ошибку %d: %s".
#pragma once

#include <string>
#include <string_view>

namespace zolm::starter {

// The system error text for a failed call named call (for example "CreateFile("/x/start.ini")").
// A code of 0 means the calling thread's errno; when that is 0 too the text is empty. A code the
// system has no text for (nor the registered table) gives "Вызов %s вернул ошибку %d (?!)".
std::string LastErrorText(std::string_view call, int code = 0);

// Throws StarterError with LastErrorText(call, code). When there is no error code at all, the
// "(?!)" form with code 0 is used, so the user never sees an empty message.
[[noreturn]] void RaiseLastError(std::string_view call, int code = 0);

// A second message table for codes outside errno's (the HTTP transport registers its own, as the
// HTTP library's texts are looked up on Windows). Returns nullptr for codes it does not know.
using ErrorTextLookup = const char *(*)(int code);
void RegisterErrorTexts(ErrorTextLookup lookup);

}  // namespace zolm::starter
