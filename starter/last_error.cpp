// System error texts from errno, with an optional second table for the transport's codes.
#include "starter/last_error.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "starter/split_by.h"
#include "starter/starter_error.h"

namespace zolm::starter {
namespace {

std::atomic<ErrorTextLookup> g_secondTable{nullptr};

std::string Known(std::string_view call, int code, std::string_view message) {
    return "Вызов " + std::string(call) + " вернул ошибку " + std::to_string(code) + ": " +
           TrimBlanks(message);
}

std::string Unknown(std::string_view call, int code) {
    return "Вызов " + std::string(call) + " вернул ошибку " + std::to_string(code) + " (?!)";
}

}  // namespace

void RegisterErrorTexts(ErrorTextLookup lookup) { g_secondTable.store(lookup); }

std::string LastErrorText(std::string_view call, int code) {
    if (code == 0) code = errno;
    if (code == 0) return {};
    // strerrordesc_np tells known codes from unknown ones; strerror_r gives the locale's wording.
    if (strerrordesc_np(code) != nullptr) {
        char buffer[256];
        return Known(call, code, strerror_r(code, buffer, sizeof buffer));
    }
    if (ErrorTextLookup lookup = g_secondTable.load(); lookup != nullptr)
        if (const char *text = lookup(code); text != nullptr) return Known(call, code, text);
    return Unknown(call, code);
}

void RaiseLastError(std::string_view call, int code) {
    std::string text = LastErrorText(call, code);
    if (text.empty()) text = Unknown(call, 0);
    throw StarterError(text);
}

}  // namespace zolm::starter
