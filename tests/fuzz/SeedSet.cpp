#include "SeedSet.h"

#include <filesystem>
#include <system_error>

#include "ExtractionCheck.h"
#include "RawModule.h"
#include "RunCommand.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"

namespace fuzzcheck {

namespace {

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::TestModuleBuilder;

Bytes Filled(std::size_t size, std::uint8_t first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i * 7);
    }
    return bytes;
}

// Two sections of code and data, as most modules start.
TestModuleBuilder Basic(bool pe32Plus) {
    TestModuleBuilder builder(pe32Plus);
    builder.AddSection(".text", Filled(0x180, 1)).AddSection(".data", Filled(0x90, 2));
    return builder;
}

Bytes WithTd32(TestModuleBuilder builder, std::uint32_t blockSize, std::uint32_t directorySize = 1) {
    testsupport::AddTd32DebugSection(builder, testsupport::MakeTd32Block(blockSize, blockSize), directorySize);
    return builder.Build().Image;
}

std::vector<Seed> BuilderModules() {
    std::vector<Seed> modules;
    for (bool const plus : {false, true}) {
        std::string const kind = plus ? "pe32plus" : "pe32";
        modules.emplace_back(kind + "-plain", Basic(plus).Build().Image);
        modules.emplace_back(kind + "-td32", WithTd32(Basic(plus), 64));
        modules.emplace_back(kind + "-td32-dir28", WithTd32(Basic(plus), 48, 28));
        modules.emplace_back(kind + "-td32-checksum",
                             WithTd32(Basic(plus).Checksum(testsupport::ChecksumMode::Computed), 40));
        modules.emplace_back(kind + "-certificate-trailing",
                             Basic(plus).Certificate(Filled(0x30, 3)).Trailing(Filled(0x21, 4)).Build().Image);
        modules.emplace_back(kind + "-symbols",
                             WithTd32(Basic(plus).SymbolTable(0x400, 3).Trailing(Filled(0x40, 5)), 32));
        TestModuleBuilder debug = Basic(plus);
        debug.AddSection(".rdata", Filled(0x100, 6))
            .DebugDirectory(2, 0x10, {{2, 0x20, 0, 0x80, true}, {9, 0x10, 0, 0xC0, true}});
        modules.emplace_back(kind + "-debug-directory", debug.Build().Image);
        modules.emplace_back(kind + "-short-directories", WithTd32(Basic(plus).DirectoryCount(5), 24));
        modules.emplace_back(kind + "-few-directories", Basic(plus).DirectoryCount(3).Build().Image);
    }
    TestModuleBuilder unaligned(false);
    testsupport::SectionDefinition odd;
    odd.Name = ".odd";
    odd.Data = Filled(0x33, 7);
    odd.PointerToRawData = 0x301;
    odd.SizeOfRawData = 0x33;
    unaligned.AddSection(".text", Filled(0x100, 8)).AddSection(std::move(odd));
    modules.emplace_back("pe32-unaligned", unaligned.Build().Image);
    modules.emplace_back("pe32-small-alignment", WithTd32(Basic(false).SectionAlignment(0x200), 20));
    modules.emplace_back("pe32-only-debug", WithTd32(TestModuleBuilder(false), 28));
    TestModuleBuilder many(false);
    for (int i = 0; i < 6; ++i) {
        many.AddSection(".s" + std::to_string(i), Filled(0x20 + i, static_cast<std::uint8_t>(i)));
    }
    modules.emplace_back("pe32-six-sections", WithTd32(many, 16));
    return modules;
}

// The extraction reads two switches from byte 2 of its input: one seed of a
// module per combination.
void AddSwitchVariants(std::vector<Seed>& modules, const std::string& name,
                       const Bytes& image) {
    for (std::uint8_t bits = 1; bits < 4; ++bits) {
        Bytes copy = image;
        copy[fuzzcheck::kSwitchByte] = static_cast<std::uint8_t>((copy[fuzzcheck::kSwitchByte] & ~3) | bits);
        modules.emplace_back(name + "-switches" + std::to_string(bits), copy);
    }
}

void AddRealModules(std::vector<Seed>& modules) {
    std::error_code error;
    for (auto const& entry : fs::directory_iterator(testsupport::TestModulesDir(), error)) {
        auto const extension = entry.path().extension();
        if (extension != ".exe" && extension != ".dll") {
            continue;
        }
        Bytes image = testsupport::ReadAll(entry.path());
        std::string const name = entry.path().filename().string();
        modules.emplace_back(name, image);
        // A module with a symbol table has data after its last section,
        // where no section can be appended: it is a seed as it is.
        if (image.size() == fuzzcheck::ReadRawModule(image)->TrailingDataStart(image.size())) {
            testsupport::AppendTd32DebugSection(image, testsupport::MakeTd32Block(96, 3));
            modules.emplace_back(name + "-td32", image);
        }
    }
}

std::vector<std::pair<std::string, std::string>> Texts() {
    using namespace std::string_literals;
    return {
        {"command-line", "quillon -r -w \"C:\\Program Files\\app\\*.dll\" \"\" out.tds"},
        {"quotes", "\"a b\"c\" d\"\"e \"\" \"f"},
        {"argv", "-r\0/W\0build/*.dll\0build/a.tds"s},
        {"argv-empty-ends", "-w\0a.dll\0\0b.tds"s},
        {"wrap", "a.dll: the module does not contain TD32 debug info or has an invalid or unknown debug info "
                 "format.\r\nsecond line\nwith a veryveryveryveryveryveryveryveryveryveryveryveryveryveryvery"
                 "veryveryveryveryveryverylongword in it"},
        {"format", "unable to create the \"%s\" file. %d module(s) processed, %d module(s) failed. 100%%"},
        {"paths", "/home/user/dir.name/module.dll.bak /root/ C:\\a\\b.c d:e.f ./x .hidden"},
        {"utf8", "na\xc3\xafve \xe2\x82\xac \xf0\x9f\x98\x80 bad \xc0\xaf \xed\xa0\x80 \xff\xfe end"},
    };
}

}  // namespace

std::vector<Seed> ModuleSeeds() {
    auto modules = BuilderModules();
    AddSwitchVariants(modules, "pe32-td32", modules[1].second);
    AddRealModules(modules);
    return modules;
}

std::vector<Seed> TextSeeds() {
    std::vector<Seed> seeds;
    for (auto const& [name, text] : Texts()) {
        seeds.emplace_back(name, Bytes(text.begin(), text.end()));
        Bytes units;
        for (unsigned char const c : text) {
            units.push_back(c);
            units.push_back(0);
        }
        seeds.emplace_back(name + "-utf16", units);
    }
    return seeds;
}

}  // namespace fuzzcheck
