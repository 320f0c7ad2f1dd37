// A test hook at the platform seam: the file operations of both
// implementations count their calls, and a test can make the Nth call fail
// with a chosen Windows error code, to show that every failure is reported
// truthfully and loses nothing. Disarmed, it only counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fault {

// Makes call number callNumber (1-based, counted from now over all file
// operations) fail with errorCode. 0 disarms.
void Arm(std::uint64_t callNumber, std::uint32_t errorCode);
void Disarm();
// Instead of a failure, runs action just before call number callNumber:
// another process's doing at that moment (a file that appears), to show
// that a run never undoes it.
void ArmAction(std::uint64_t callNumber, void (*action)());
// File operations counted since the last Arm or Disarm.
std::uint64_t CallCount();

// The file operations of the seam, for a record of their order.
enum class Op { Create, Delete, Move, GetSize, Seek, Read, Write, SetEnd, Flush, Close, FlushFolder, Checksum, Map };

struct Operation {
    Op Kind;
    // The path the operation names (a move: its target), or the path that
    // the handle it works on was created with.
    std::u16string Path;
    // A seek: the distance it asks for; a read or a write: its size.
    std::uint64_t Value = 0;
};

// Appends every file operation from now on to log, with or without faults
// armed; nullptr stops the record.
void Record(std::vector<Operation>* log);

// Called by the seam at the start of each file operation: true when this
// call must fail; the thread's last error is then set to the chosen code.
bool Strike(Op op, const std::u16string& path);
bool Strike(Op op, void* handle, std::uint64_t value = 0);
// The distance of a SetFilePointer call as one number.
inline std::uint64_t SeekDistance(std::int32_t low, const std::int32_t* high) {
    return (high != nullptr ? std::uint64_t{static_cast<std::uint32_t>(*high)} << 32 : 0) |
           static_cast<std::uint32_t>(low);
}
// Called by the seam when a create gave a handle, to name its operations.
void Opened(void* handle, const std::u16string& path);

}  // namespace fault
