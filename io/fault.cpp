#include "io/fault.h"

#ifdef VELMORA_FAULT_INJECTION
#include <atomic>

namespace velmora::fault {

namespace {
std::atomic<long> openCountdown{0};
std::atomic<long> readCountdown{0};
std::atomic<long> writeCountdown{0};
std::atomic<long> abandonCountdown{0};
std::atomic<bool> fired{false};
std::atomic<bool> failBackgroundSyncs{false};

bool Tick(std::atomic<long>& countdown) {
    long v = countdown.load();
    if (v <= 0) return false;
    countdown.store(v - 1);
    if (v != 1) return false;
    fired = true;
    return true;
}
}  // namespace

bool BeforeOpen() { return Tick(openCountdown); }
bool BeforeRead() { return Tick(readCountdown); }
bool BeforeWrite() {
    if (Tick(abandonCountdown)) throw Abandoned{};
    return Tick(writeCountdown);
}
void AbandonAtWrite(long n) {
    abandonCountdown = n;
    fired = false;
}
bool BeforeBackgroundSync() {
    if (!failBackgroundSyncs) return false;
    fired = true;
    return true;
}
void FailBackgroundSyncs(bool fail) { failBackgroundSyncs = fail; }

void Arm(long failOpenAt, long failReadAt, long failWriteAt) {
    openCountdown = failOpenAt;
    readCountdown = failReadAt;
    writeCountdown = failWriteAt;
    abandonCountdown = 0;
    fired = false;
}

void Disarm() { Arm(0, 0, 0); }

bool Fired() { return fired; }

}  // namespace velmora::fault
#endif
