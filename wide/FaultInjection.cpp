#include "FaultInjection.h"

#include <map>

#include "SysApi.h"

namespace fault {
namespace {
std::uint64_t calls = 0;
std::uint64_t failingCall = 0;
std::uint32_t failingCode = 0;
void (*pendingAction)() = nullptr;
std::vector<Operation>* record = nullptr;
std::map<void*, std::u16string> handlePaths;

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

bool Strike(Op op, const std::u16string& path) {
    if (record != nullptr) record->push_back({op, path});
    return Strike();
}

bool Strike(Op op, void* handle, std::uint64_t value) {
    if (record != nullptr) record->push_back({op, handlePaths[handle], value});
    return Strike();
}

void Record(std::vector<Operation>* log) {
    record = log;
    handlePaths.clear();
}

void Opened(void* handle, const std::u16string& path) {
    if (record != nullptr) handlePaths[handle] = path;
}

}  // namespace fault
