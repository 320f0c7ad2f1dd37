#include "Forms.h"
#include "Win32Text.h"

#include <windows.h>

#include <stdexcept>

std::string LoadFormResource(std::string_view resourceName) {
    std::wstring name = WideFromUtf8(resourceName);
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, name.c_str(), RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        throw std::runtime_error("the program carries no resource \"" + std::string(resourceName) + "\"");
    return std::string(static_cast<const char*>(data), SizeofResource(module, resource));
}
