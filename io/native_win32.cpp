#include "io/win32_api.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "io/utf16.h"
#include "native.h"

namespace velmora {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace velmora

namespace velmora::native {

namespace {

// A path as the wide calls take it. Past MAX_PATH only the "\\?\" form of
// the full path reaches the file (without the long-path setting that
// Windows 10 leaves off by default).
std::wstring SystemPath(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return wide;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return wide;
    full.resize(got);
    // GetFullPathNameW has turned every "/" into "\\" already.
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle Of(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<Handle>(h); }

// The system's reasons in errno's terms, which the front ends word.
int ErrnoOf(DWORD e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_DIRECTORY: return ENOTDIR;
        default: return EIO;
    }
}
int LastError() { return ErrnoOf(GetLastError()); }

std::int64_t Nanoseconds(std::uint64_t ticks) { return static_cast<std::int64_t>(ticks * 100); }
std::uint64_t Ticks(const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

bool IdentityOfHandle(HANDLE h, FileIdentity& id, std::int64_t* changedNs) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return false;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    id.length = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    id.modifiedNs = Nanoseconds(Ticks(info.ftLastWriteTime));
    if (changedNs) {
        FILE_BASIC_INFO basic{};
        *changedNs = GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
                         ? Nanoseconds(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart))
                         : id.modifiedNs;
    }
    return true;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Positioned transfers: the offset travels with the call, as pread's does.
OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

}  // namespace

std::optional<Look> LookAt(const std::string& path, bool followLinks) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE h =
        CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = LastError();
        return std::nullopt;
    }
    Look look;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) && IdentityOfHandle(h, look.identity, &look.changedNs);
    if (!known)
        look.kind = Kind::Other;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        look.kind = Kind::Folder;
    else if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        look.kind = Kind::Link;
    else
        look.kind = GetFileType(h) == FILE_TYPE_DISK ? Kind::Regular : Kind::Other;
    CloseHandle(h);
    return look;
}

bool Writable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

// Others may go on reading, writing and renaming the file, as on POSIX; a
// writer elsewhere is what OpenForWritingElsewhere looks for.
Handle OpenExisting(const std::string& path, bool write, bool& notRegular, int& error) {
    notRegular = false;
    const std::optional<Look> look = LookAt(path, true);
    if (look && look->kind == Kind::Other) {
        notRegular = true;
        return kNoHandle;
    }
    const DWORD access = GENERIC_READ | (write ? GENERIC_WRITE : 0);
    const HANDLE h = CreateFileW(SystemPath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = look && look->kind == Kind::Folder ? EISDIR : LastError();
        return kNoHandle;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        notRegular = true;
        CloseHandle(h);
        return kNoHandle;
    }
    return Of(h);
}

// Hidden while it is written; ReplaceName shows it when it takes its name.
Handle CreateNew(const std::string& path, int& error) {
    const HANDLE h =
        CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) error = LastError();
    return Of(h);
}

Handle CreateUnnamed(const std::string&) { return kNoHandle; }

bool NameUnnamed(Handle, const std::string&, int& error) {
    error = EINVAL;
    return false;
}

bool ReplaceName(const std::string& from, const std::string& to, int& error) {
    const std::wstring wideFrom = SystemPath(from);
    const DWORD attributes = GetFileAttributesW(wideFrom.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(wideFrom.c_str(), (attributes & ~DWORD{FILE_ATTRIBUTE_HIDDEN}) | FILE_ATTRIBUTE_NORMAL);
    // Write-through: the new name is on disk when the call returns, which is
    // what the sync of the folder gives on POSIX.
    if (MoveFileExW(wideFrom.c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = LastError();
    return false;
}

bool RemoveName(const std::string& path) {
    if (DeleteFileW(SystemPath(path).c_str())) return true;
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

int SyncFolder(const std::string&) { return 0; }

bool Close(Handle h, int& error) {
    if (CloseHandle(H(h))) return true;
    error = LastError();
    return false;
}

void CloseQuietly(Handle h) {
    if (h != kNoHandle) CloseHandle(H(h));
}

Handle Duplicate(Handle h) {
    HANDLE out = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, H(h), self, &out, 0, FALSE, DUPLICATE_SAME_ACCESS)) return kNoHandle;
    return Of(out);
}

long long ReadAt(Handle h, void* buf, std::size_t n, std::uint64_t offset, int& error) {
    OVERLAPPED ov = At(offset);
    DWORD got = 0;
    if (ReadFile(H(h), buf, static_cast<DWORD>(std::min(n, kMaxCall)), &got, &ov)) return got;
    const DWORD e = GetLastError();
    if (e == ERROR_HANDLE_EOF) return 0;
    error = ErrnoOf(e);
    return -1;
}

long long WriteAt(Handle h, const void* buf, std::size_t n, std::uint64_t offset, int& error) {
    OVERLAPPED ov = At(offset);
    DWORD put = 0;
    if (WriteFile(H(h), buf, static_cast<DWORD>(std::min(n, kMaxCall)), &put, &ov)) return put;
    error = LastError();
    return -1;
}

bool Sync(Handle h, bool, int& error) {
    if (FlushFileBuffers(H(h))) return true;
    error = LastError();
    return false;
}

bool IdentityOfOpen(Handle h, FileIdentity& identity, int& error) {
    if (IdentityOfHandle(H(h), identity, nullptr)) return true;
    error = LastError();
    return false;
}

void StartWriteback(Handle, std::uint64_t, std::uint64_t) {}

// Windows locks bar other processes from the locked bytes. The lock covers
// the range past any WAV's end (the top of the 64-bit range) so the file
// stays readable to others, while programs that lock the whole file, as
// recorders do while they write, still collide with it.
bool TryLockExclusive(Handle h) {
    OVERLAPPED ov = At(std::uint64_t{1} << 62);
    if (LockFileEx(H(h), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) return true;
    return GetLastError() != ERROR_LOCK_VIOLATION;
}

// An open that forbids others to write fails while another handle may write.
std::optional<bool> OpenForWritingElsewhere(const std::string& path) {
    const HANDLE h =
        CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    if (GetLastError() == ERROR_SHARING_VIOLATION) return true;
    return std::nullopt;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

// Windows cannot lock a folder: a named mutex per folder (by its full path,
// case folded) stands in. The system releases it when a holder dies.
Handle LockFolder(const std::string& folder, int waitMs, bool& timedOut) {
    timedOut = false;
    const std::wstring given = Wide(folder.empty() ? std::string(".") : folder);
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(given.c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768) return kNoHandle;
    CharLowerBuffW(full, n);
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (DWORD i = 0; i < n; ++i) {
        if (full[i] == L'/') full[i] = L'\\';
        if (i + 1 == n && full[i] == L'\\') break;
        hash = (hash ^ full[i]) * 0x100000001b3ull;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\velmora-folder-%016llx", static_cast<unsigned long long>(hash));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return kNoHandle;
    const DWORD got = WaitForSingleObject(mutex, static_cast<DWORD>(waitMs));
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) return Of(mutex);
    CloseHandle(mutex);
    timedOut = got == WAIT_TIMEOUT;
    return kNoHandle;
}

void UnlockFolder(Handle lock) {
    ReleaseMutex(H(lock));
    CloseHandle(H(lock));
}

}  // namespace velmora::native
