#include "common/Errors.h"

namespace oup {

std::string FormatMessage(const std::string& pattern, std::initializer_list<std::string> values) {
    std::string out;
    auto next = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (next != values.end() && pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
            out += *next++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

void ThrowListIndex(long index) {
    throw EListError(FormatMessage(kListIndexText, {std::to_string(index)}));
}

}  // namespace oup
