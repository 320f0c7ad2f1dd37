// Writes the seed corpora of the fuzz targets, one file per seed, into
// <folder>/modules, <folder>/texts, <folder>/attach and <folder>/td32. Usage: make_seeds <folder>
#include <filesystem>

#include "FuzzChecks.h"
#include "TestFiles.h"

int main(int argc, char** argv) {
    std::filesystem::path const folder = argc == 2 ? argv[1] : ".";
    for (auto const& [kind, seeds] :
         {std::pair{"modules", fuzzcheck::ModuleSeeds()}, std::pair{"texts", fuzzcheck::TextSeeds()},
          std::pair{"attach", fuzzcheck::AttachmentSeeds()}, std::pair{"td32", fuzzcheck::Td32Seeds()}}) {
        std::filesystem::create_directories(folder / kind);
        for (auto const& [name, bytes] : seeds) {
            testsupport::WriteAll(folder / kind / name, bytes);
        }
    }
    return 0;
}
