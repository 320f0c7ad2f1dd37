#include "Exception.h"

#include "WideText.h"

const char* Exception::what() const noexcept {
    try {
        utf8_ = WideToUtf8(message_);
    } catch (...) {
        return "Exception (message not convertible)";
    }
    return utf8_.c_str();
}
