#include "ScratchFiles.h"

#include <chrono>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "TestFiles.h"

namespace fuzzcheck {

namespace fs = std::filesystem;

namespace {

fs::path ScratchBase() {
    std::error_code error;
    if (fs::is_directory("/dev/shm", error)) {
        return "/dev/shm";
    }
    return fs::temp_directory_path();
}

class Folder {
public:
    Folder() {
        std::random_device device;
        auto const now = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = ScratchBase() / ("quillon-fuzz-" + std::to_string(device()) + "-" + std::to_string(now % 1000000007));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace

const fs::path& ScratchFolder() {
    static Folder folder;
    return folder.Path();
}

void WriteBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    testsupport::WriteAll(path, Bytes(bytes.begin(), bytes.end()));
}

std::optional<Bytes> ReadBytesIfAny(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return bytes;
}

void RemoveIfAny(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace fuzzcheck
