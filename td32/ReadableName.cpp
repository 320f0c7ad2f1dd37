#include "ReadableName.h"

#include <algorithm>

std::string ReadableName(std::string_view name) {
    std::string readable(name.size(), '\0');
    readable.resize(WriteReadableName(name, readable.data()));
    return readable;
}

std::size_t WriteReadableName(std::string_view name, char* out) {
    if (name.starts_with('@')) name.remove_prefix(1);
    name = name.substr(0, name.find('$'));
    std::size_t length = 0;
    for (;;) {
        std::size_t const at = std::min(name.find('@'), name.size());
        name.copy(out + length, at);
        length += at;
        if (at == name.size()) return length;
        out[length++] = '.';
        name.remove_prefix(name.substr(at, 2) == "@@" ? at + 2 : at + 1);
    }
}
