#include "TestFiles.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>

namespace testsupport {

namespace {

std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    auto const now = std::chrono::steady_clock::now().time_since_epoch().count();
    return "quillon-test-" + std::to_string(device()) + "-" + std::to_string(now % 1000000) + "-" +
           std::to_string(counter++);
}

}  // namespace

TempDir::TempDir() {
    path_ = std::filesystem::temp_directory_path() / UniqueName();
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    auto const path = File(name);
    WriteAll(path, bytes);
    return path;
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

WideString Wide(const std::filesystem::path& path) { return path.u16string(); }

}  // namespace testsupport
