// The calls the file layer makes of the operating system, one set per
// platform (native_posix.cpp, native_win32.cpp; the build picks one). Paths
// are UTF-8 everywhere above this line; below it Windows takes UTF-16.
// Failures return a code in errno's terms (ENOENT, EACCES, ENOSPC, …), so
// the front ends word the system's reason the same way on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "io/file.h"

namespace velmora::native {

// A descriptor (POSIX) or a HANDLE (Windows).
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class Kind { Regular, Folder, Link, Other };

// What a name holds: the file a link leads to, or the link itself.
struct Look {
    Kind kind = Kind::Other;
    FileIdentity identity;
    std::int64_t changedNs = 0;  // the last change of the entry (contents, name or attributes)
};
// Nothing (errno set: ENOENT when there is no such name) when it cannot look.
std::optional<Look> LookAt(const std::string& path, bool followLinks);
// Whether we may write the named file.
bool Writable(const std::string& path);

// Opens an existing regular file for reading (and writing). A FIFO, socket
// or device sets notRegular and is not opened where that can be told first.
Handle OpenExisting(const std::string& path, bool write, bool& notRegular, int& error);
// A new file under a name nobody holds (not following a link there).
Handle CreateNew(const std::string& path, int& error);
// A file without a name in the folder, named later by NameUnnamed; kNoHandle
// where the system has no such files.
Handle CreateUnnamed(const std::string& folder);
// Gives an unnamed file its first name; EEXIST when the name is taken.
bool NameUnnamed(Handle h, const std::string& path, int& error);
// Replaces whatever the name `to` holds (a link there as a name) by `from`.
bool ReplaceName(const std::string& from, const std::string& to, int& error);
// Removes a name; true when it is gone (or was never there).
bool RemoveName(const std::string& path);
// Puts a folder's entries on disk; 0, or the code of the failure. 0 where
// the system keeps names durable by itself (the replace writes through).
int SyncFolder(const std::string& folder);

bool Close(Handle h, int& error);
void CloseQuietly(Handle h);
// A second handle of the same open file, for the background syncs.
Handle Duplicate(Handle h);

// Positioned reads and writes: the count moved, or −1 with error set.
long long ReadAt(Handle h, void* buf, std::size_t n, std::uint64_t offset, int& error);
long long WriteAt(Handle h, const void* buf, std::size_t n, std::uint64_t offset, int& error);
// The file's bytes on disk (dataOnly: what reading them back needs).
bool Sync(Handle h, bool dataOnly, int& error);
bool IdentityOfOpen(Handle h, FileIdentity& identity, int& error);
// Starts writing back a range without waiting; nothing where unsupported.
void StartWriteback(Handle h, std::uint64_t offset, std::uint64_t n);
// An exclusive lock on the whole file, held until it closes; false when
// another process holds a lock on any of it.
bool TryLockExclusive(Handle h);
// See OpenForWritingElsewhere in file.h.
std::optional<bool> OpenForWritingElsewhere(const std::string& path);

long ProcessId();

// A lock of a folder against other runs naming files in it, waited for at
// most waitMs milliseconds. Taken: a handle to release; kNoHandle when the
// folder cannot be locked (nothing to wait for). timedOut when another
// process held it all that time.
Handle LockFolder(const std::string& folder, int waitMs, bool& timedOut);
void UnlockFolder(Handle lock);

}  // namespace velmora::native
