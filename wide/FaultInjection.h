// A test hook at the platform seam: the file operations of both
// implementations count their calls, and a test can make the Nth call fail
// with a chosen Windows error code, to show that every failure is reported
// truthfully and loses nothing. Disarmed, it only counts.
#pragma once

#include <cstdint>

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

// Called by the seam at the start of each file operation: true when this
// call must fail; the thread's last error is then set to the chosen code.
bool Strike();

}  // namespace fault
