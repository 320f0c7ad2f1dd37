// printf-style filling of the message texts: each %s or %d is replaced by
// the next argument, in order. Other characters are copied unchanged.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

std::u16string FormatText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);
std::u16string IntToText(std::int64_t value);
