#include "starter/text_format.h"

namespace zolm::starter {

std::string FillFormat(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string text;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char kind = format[i + 1];
            if (kind == '%') {
                text += '%';
                ++i;
                continue;
            }
            if (kind == 's' || kind == 'd') {
                if (next != args.end()) text += *next++;
                ++i;
                continue;
            }
        }
        text += format[i];
    }
    return text;
}

}  // namespace zolm::starter
