#include "TextFormat.h"

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
    std::u16string result;
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        bool isField =
            pattern[i] == u'%' && i + 1 < pattern.size() && (pattern[i + 1] == u's' || pattern[i + 1] == u'd');
        if (isField && next != args.end()) {
            result += *next++;
            ++i;
        } else {
            result += pattern[i];
        }
    }
    return result;
}

std::u16string IntToText(std::int64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}
