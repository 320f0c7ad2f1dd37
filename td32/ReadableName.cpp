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
    for (std::size_t i = 0; i < name.size();) {
        std::size_t const at = std::min(name.find('@', i), name.size());
        std::copy(name.begin() + i, name.begin() + at, out + length);
        length += at - i;
        if (at == name.size()) break;
        out[length++] = '.';
        i = at + (at + 1 < name.size() && name[at + 1] == '@' ? 2 : 1);
    }
    return length;
}
