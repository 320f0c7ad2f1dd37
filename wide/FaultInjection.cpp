#include "FaultInjection.h"

#include "SysApi.h"

namespace fault {
namespace {
std::uint64_t calls = 0;
std::uint64_t failingCall = 0;
std::uint32_t failingCode = 0;
void (*pendingAction)() = nullptr;
}  // namespace

void Arm(std::uint64_t callNumber, std::uint32_t errorCode) {
    calls = 0;
    failingCall = callNumber;
    failingCode = errorCode;
    pendingAction = nullptr;
}

void Disarm() { Arm(0, 0); }

void ArmAction(std::uint64_t callNumber, void (*action)()) {
    Arm(callNumber, 0);
    pendingAction = action;
}

std::uint64_t CallCount() { return calls; }

bool Strike() {
    ++calls;
    if (failingCall == 0 || calls != failingCall) return false;
    if (pendingAction != nullptr) {
        pendingAction();
        return false;
    }
    SysSetLastError(failingCode);
    return true;
}

}  // namespace fault
