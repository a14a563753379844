// Fuzz target for ParseHttpDate: any text is a date or one of its errors.
#include <cstdint>
#include <string_view>

#include "starter/starter_error.h"
#include "starter/time_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    try {
        (void)zolm::starter::ParseHttpDate(std::string_view(reinterpret_cast<const char *>(data), size));
    } catch (const zolm::starter::StarterError &) {
    }
    return 0;
}
