#include "fault.h"

#ifdef VELMORA_FAULT_INJECTION
#include <atomic>

namespace velmora::fault {

namespace {
std::atomic<long> openCountdown{0};
std::atomic<long> readCountdown{0};
std::atomic<long> writeCountdown{0};

bool Tick(std::atomic<long>& countdown) {
    long v = countdown.load();
    if (v <= 0) return false;
    countdown.store(v - 1);
    return v == 1;
}
}  // namespace

bool BeforeOpen() { return Tick(openCountdown); }
bool BeforeRead() { return Tick(readCountdown); }
bool BeforeWrite() { return Tick(writeCountdown); }

void Arm(long failOpenAt, long failReadAt, long failWriteAt) {
    openCountdown = failOpenAt;
    readCountdown = failReadAt;
    writeCountdown = failWriteAt;
}

void Disarm() { Arm(0, 0, 0); }

}  // namespace velmora::fault
#endif
