// Fuzz target for the request template reader: any text must give a record or a std::exception,
// never a crash, a leak or another kind of exception.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/request_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader takes a NUL-terminated text, as the host passes it.
    std::string text(reinterpret_cast<const char *>(data), size);
    try {
        zolm::RequestTemplate record = zolm::ReadRequestTemplate(text.c_str());
        for (size_t i = 1; i < record.subject.size(); ++i)
            if (record.subject[i - 1].order > record.subject[i].order) std::abort();
        if (record.basicConstraintsCA < -1 || record.basicConstraintsCA > 1) std::abort();
    } catch (const std::exception &) {
        // An error text for the host.
    }
    return 0;
}
