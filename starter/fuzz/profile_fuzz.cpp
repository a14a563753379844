// Fuzz target for the settings-file reader and writer: any bytes read without failing, values are
// never longer than the read buffer allows, and a write keeps every other line and reads back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "starter/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string content(reinterpret_cast<const char *>(data), size);
    const char *keys[][2] = {{"versions", "product"}, {"proxy", "host"}, {"", ""}, {"a", "k"}};
    for (const auto &key : keys) {
        std::string value = zolm::starter::ProfileGetString(content, key[0], key[1], "");
        if (value.size() > zolm::starter::kMaxProfileValue) std::abort();
    }
    std::string written = zolm::starter::ProfileSetString(content, "fuzz", "key", "value");
    if (zolm::starter::ProfileGetString(written, "fuzz", "key", "") != "value") std::abort();
    std::string again = zolm::starter::ProfileSetString(written, "fuzz", "key", "other");
    if (again.size() != written.size() || zolm::starter::ProfileGetString(again, "fuzz", "key", "") != "other") std::abort();
    return 0;
}
