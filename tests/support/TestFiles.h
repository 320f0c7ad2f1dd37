// Files for tests: a temporary folder removed with its contents at the end
// of the test, whole-file reads and writes, and the check of a module by
// Debian's python3-pefile, a PE reader we did not write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "SysApi.h"

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path File(const std::string& name) const { return path_ / name; }
    // Writes bytes to a file named name in the folder; returns its path.
    std::filesystem::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// The file's bytes, or nothing when there is no file at path.
std::optional<std::vector<std::uint8_t>> ReadIfAny(const std::filesystem::path& path);
std::size_t FilesIn(const std::filesystem::path& folder);
// The path as the seam takes it.
WideString Wide(const std::filesystem::path& path);

// What pefile finds wrong with the module (tests/support/pecheck.py); empty
// when it reads it cleanly. The Windows builds have no Debian python: there
// the result is always empty, and the program tests check their output.
std::string PefileProblems(const std::filesystem::path& module);

}  // namespace testsupport
