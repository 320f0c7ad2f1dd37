// Files for the fuzz checks: one folder per process, on a RAM disk where the
// machine has one (fuzzing rewrites the same small files many thousand times
// a second), and whole-file helpers that tell a missing file apart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace fuzzcheck {

using Bytes = std::vector<std::uint8_t>;

// The process's scratch folder, created on first use and removed with its
// contents when the process ends normally.
const std::filesystem::path& ScratchFolder();

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
// The file's contents, or nothing when there is no file at path.
std::optional<Bytes> ReadBytesIfAny(const std::filesystem::path& path);
void RemoveIfAny(const std::filesystem::path& path);

}  // namespace fuzzcheck
