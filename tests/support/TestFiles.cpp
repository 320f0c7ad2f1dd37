#include "TestFiles.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quillon-test-" + std::to_string(std::random_device()()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    WriteAll(File(name), bytes);
    return File(name);
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::optional<std::vector<std::uint8_t>> ReadIfAny(const std::filesystem::path& path) {
    return std::filesystem::exists(path) ? std::optional(ReadAll(path)) : std::nullopt;
}

std::size_t FilesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

WideString Wide(const std::filesystem::path& path) { return path.u16string(); }

std::string PefileProblems([[maybe_unused]] const std::filesystem::path& module) {
#ifdef QUILLON_PECHECK
    TempDir folder;
    auto const report = folder.File("report.txt");
    std::string const command =
        "\"" QUILLON_PYTHON "\" \"" QUILLON_PECHECK "\" \"" + module.string() + "\" > \"" + report.string() + "\" 2>&1";
    int const status = std::system(command.c_str());
    std::vector<std::uint8_t> const text = ReadAll(report);
    return status == 0 ? "" : "pefile: " + std::string(text.begin(), text.end());
#else
    return "";
#endif
}

}  // namespace testsupport
