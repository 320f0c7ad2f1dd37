#include "ReadableName.h"

std::string ReadableName(std::string_view name) {
    if (name.starts_with('@')) name.remove_prefix(1);
    name = name.substr(0, name.find('$'));
    std::string readable;
    readable.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '@') {
            readable.push_back(name[i]);
            continue;
        }
        readable.push_back('.');
        if (i + 1 < name.size() && name[i + 1] == '@') ++i;
    }
    return readable;
}
