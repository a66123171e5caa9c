// Fault injection at the file layer. In a normal build every hook is a
// constant false; the fault-injection test build counts calls and fails the
// Nth one, standing in for a full disk or a file that vanished.
#pragma once

namespace velmora::fault {

#ifdef VELMORA_FAULT_INJECTION
bool BeforeOpen();
bool BeforeRead();
bool BeforeWrite();
// The syncs an output's bytes get in the background while it is written:
// not counted, since they run on another thread: all fail or none, and
// Fired() tells when one has.
bool BeforeBackgroundSync();
void FailBackgroundSyncs(bool fail);
// Fail the nth call (1-based) of that kind from now on; 0 disarms.
void Arm(long failOpenAt, long failReadAt, long failWriteAt);
void Disarm();
// Whether a fault has been injected since the last Arm.
bool Fired();
// Stands in for a kill: the nth write from now on throws Abandoned, which no
// failure handler of the file layer catches, so nothing is put back.
struct Abandoned {};
void AbandonAtWrite(long n);
#else
constexpr bool BeforeOpen() { return false; }
constexpr bool BeforeRead() { return false; }
constexpr bool BeforeWrite() { return false; }
constexpr bool BeforeBackgroundSync() { return false; }
#endif

}  // namespace velmora::fault
