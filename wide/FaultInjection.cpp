#include "FaultInjection.h"

#include "SysApi.h"

namespace fault {
namespace {
std::uint64_t calls = 0;
std::uint64_t failingCall = 0;
std::uint32_t failingCode = 0;
}  // namespace

void Arm(std::uint64_t callNumber, std::uint32_t errorCode) {
    calls = 0;
    failingCall = callNumber;
    failingCode = errorCode;
}

void Disarm() { Arm(0, 0); }

std::uint64_t CallCount() { return calls; }

bool Strike() {
    ++calls;
    if (failingCall == 0 || calls != failingCall) return false;
    SysSetLastError(failingCode);
    return true;
}

}  // namespace fault
