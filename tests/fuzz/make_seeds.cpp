// Writes the seed corpora of the fuzz targets into two folders, one file per
// seed. The seeds are generated at build time, never stored as files.
//
// Usage: make_seeds <module-seed-folder> <text-seed-folder>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "SeedSet.h"
#include "TestFiles.h"

namespace {

void WriteSeeds(const std::filesystem::path& folder, const std::vector<fuzzcheck::Seed>& seeds) {
    std::filesystem::create_directories(folder);
    for (auto const& [name, bytes] : seeds) {
        testsupport::WriteAll(folder / name, bytes);
    }
    std::printf("%zu seeds in %s\n", seeds.size(), folder.string().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds <module-seed-folder> <text-seed-folder>\n");
        return 2;
    }
    try {
        WriteSeeds(argv[1], fuzzcheck::ModuleSeeds());
        WriteSeeds(argv[2], fuzzcheck::TextSeeds());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
