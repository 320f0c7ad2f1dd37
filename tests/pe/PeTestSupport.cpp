#include "PeTestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

ModuleView ReadModuleView(const Bytes& image) {
    ModuleView view;
    std::uint32_t const eLfanew = Get32(image, 0x3C);
    view.FileHeaderOffset = eLfanew + 4;
    std::size_t const coff = view.FileHeaderOffset;
    view.NumberOfSections = Get16(image, coff + 2);
    view.PointerToSymbolTable = Get32(image, coff + 8);
    view.SizeOfOptionalHeader = Get16(image, coff + 16);
    std::size_t const opt = coff + 20;
    view.Magic = Get16(image, opt);
    std::size_t const fixed = view.Magic == 0x20B ? 112 : 96;
    view.SizeOfImage = Get32(image, opt + 56);
    view.SizeOfHeaders = Get32(image, opt + 60);
    view.CheckSum = Get32(image, opt + 64);
    view.NumberOfRvaAndSizes = Get32(image, opt + fixed - 4);
    for (std::uint32_t i = 0; i < view.NumberOfRvaAndSizes; ++i) {
        view.Directories.push_back({Get32(image, opt + fixed + i * 8), Get32(image, opt + fixed + i * 8 + 4)});
    }
    view.SectionTableOffset = static_cast<std::uint32_t>(opt + fixed + view.NumberOfRvaAndSizes * 8);
    for (std::uint32_t i = 0; i < view.NumberOfSections; ++i) {
        std::size_t const header = view.SectionTableOffset + i * 40;
        BuiltSection section;
        for (std::size_t c = 0; c < 8 && image[header + c] != 0; ++c) {
            section.Name.push_back(static_cast<char>(image[header + c]));
        }
        section.VirtualSize = Get32(image, header + 8);
        section.VirtualAddress = Get32(image, header + 12);
        section.SizeOfRawData = Get32(image, header + 16);
        section.PointerToRawData = Get32(image, header + 20);
        view.Sections.push_back(section);
    }
    return view;
}

Bytes Slice(const Bytes& image, std::size_t offset, std::size_t size) {
    if (offset + size > image.size()) {
        ADD_FAILURE() << "slice " << offset << "+" << size << " past the end " << image.size();
        return {};
    }
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset),
                 image.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

Bytes SectionBytes(const Bytes& image, const BuiltSection& section) {
    return Slice(image, section.PointerToRawData, section.SizeOfRawData);
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return bytes;
}

void ExpectPefileAccepts(const std::filesystem::path& module) {
    if (!PeCheckAvailable()) {
#ifndef _WIN32
        ADD_FAILURE() << "python3-pefile is needed to check " << module;
#endif
        return;
    }
    CommandResult const result = RunPeCheck(module);
    EXPECT_EQ(result.ExitCode, 0) << module << ":\n" << result.Output;
}

std::u16string Text(std::u16string_view text) { return std::u16string(text); }

TestModuleBuilder SmallModule(bool pe32Plus) {
    TestModuleBuilder builder(pe32Plus);
    builder.AddSection(".text", Pattern(0x180, 1)).AddSection(".data", Pattern(0x300, 2)).AddSection(".rsrc", Pattern(0x200, 3));
    return builder;
}
