// The general exception type of the program: it carries a message text.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::u16string message = {}) : message_(std::move(message)) {}
    const std::u16string& Message() const noexcept { return message_; }
    // UTF-8 form of the message, for std::exception users.
    const char* what() const noexcept override;

private:
    std::u16string message_;
    mutable std::string utf8_;
};
