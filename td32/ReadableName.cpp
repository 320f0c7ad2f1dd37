#include "ReadableName.h"

std::string ReadableName(std::string_view name) {
    std::string readable(name.size(), '\0');
    readable.resize(WriteReadableName(name, readable.data()));
    return readable;
}

// One pass over the name, which is short: up to the first '$', each '@' or
// "@@" becomes a '.'.
std::size_t WriteReadableName(std::string_view name, char* out) {
    if (name.starts_with('@')) name.remove_prefix(1);
    std::size_t length = 0;
    for (std::size_t i = 0; i < name.size() && name[i] != '$'; ++i) {
        if (name[i] != '@') {
            out[length++] = name[i];
            continue;
        }
        out[length++] = '.';
        if (i + 1 < name.size() && name[i + 1] == '@') ++i;
    }
    return length;
}
