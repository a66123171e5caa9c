#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "native.h"
#include "io/paths.h"

namespace velmora::native {

namespace {

int Fd(Handle h) { return static_cast<int>(h); }

// The folder itself as a path open() takes: "." for the current one.
std::string FolderToOpen(const std::string& folder) { return PathInFolder(folder, "."); }

Kind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return Kind::Regular;
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    if (S_ISLNK(st.st_mode)) return Kind::Link;
    return Kind::Other;
}

FileIdentity IdentityFromStat(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

std::optional<Look> LookAt(const std::string& path, bool followLinks) {
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return std::nullopt;
    return Look{KindOf(st), IdentityFromStat(st),
                static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

// A FIFO would make open() wait for a writer (and hold up a whole batch), a
// device may act on being opened: the look before the open keeps them from
// being opened at all; the look at the open file catches one put there in
// between, and O_NONBLOCK keeps that open from waiting. A folder stays a
// file that cannot be opened (EISDIR).
Handle OpenExisting(const std::string& path, bool write, bool& notRegular, int& error) {
    notRegular = false;
    const auto special = [](const struct stat& st) { return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode); };
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && special(st)) {
        notRegular = true;
        return kNoHandle;
    }
    const int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return kNoHandle;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        notRegular = special(st);
        ::close(fd);
        error = EISDIR;
        return kNoHandle;
    }
    // Reads of a regular file never wait anyway; the flag goes all the same.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

Handle CreateNew(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) error = errno;
    return fd < 0 ? kNoHandle : fd;
}

Handle CreateUnnamed(const std::string& folder) {
#if defined(__linux__) && defined(O_TMPFILE)
    // Naming it later goes through /proc/self/fd.
    if (::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(FolderToOpen(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
    }
#else
    (void)folder;
#endif
    return kNoHandle;
}

bool NameUnnamed(Handle h, const std::string& path, int& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(Fd(h));
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    error = errno;
    return false;
}

bool ReplaceName(const std::string& from, const std::string& to, int& error) {
    // rename() replaces a link at the name, never what it points to.
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
}

bool RemoveName(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

int SyncFolder(const std::string& folder) {
    const int fd = ::open(FolderToOpen(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    // A file system that cannot sync folders (EINVAL) has nothing to do.
    const int err = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return err;
}

bool Close(Handle h, int& error) {
    if (::close(Fd(h)) == 0 || errno == EINTR) return true;
    error = errno;
    return false;
}

void CloseQuietly(Handle h) {
    if (h != kNoHandle) ::close(Fd(h));
}

Handle Duplicate(Handle h) {
    const int fd = ::fcntl(Fd(h), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? kNoHandle : fd;
}

long long ReadAt(Handle h, void* buf, std::size_t n, std::uint64_t offset, int& error) {
    const ssize_t r = ::pread(Fd(h), buf, n, static_cast<off_t>(offset));
    if (r < 0) error = errno;
    return r;
}

long long WriteAt(Handle h, const void* buf, std::size_t n, std::uint64_t offset, int& error) {
    const ssize_t r = ::pwrite(Fd(h), buf, n, static_cast<off_t>(offset));
    if (r < 0) error = errno;
    return r;
}

bool Sync(Handle h, bool dataOnly, int& error) {
    if ((dataOnly ? ::fdatasync(Fd(h)) : ::fsync(Fd(h))) == 0) return true;
    error = errno;
    return false;
}

bool IdentityOfOpen(Handle h, FileIdentity& identity, int& error) {
    struct stat st {};
    if (::fstat(Fd(h), &st) != 0) {
        error = errno;
        return false;
    }
    identity = IdentityFromStat(st);
    return true;
}

void StartWriteback(Handle h, std::uint64_t offset, std::uint64_t n) {
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    // Only a start: a failure here shows again, and is reported, at the fsync.
    ::sync_file_range(Fd(h), static_cast<off_t>(offset), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
#else
    (void)h, (void)offset, (void)n;
#endif
}

bool TryLockExclusive(Handle h) {
    const int fd = Fd(h);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        // A file system without flock cannot tell; only a held lock refuses.
        if (errno == EWOULDBLOCK) return false;
        break;
    }
    // Programs that lock with fcntl or lockf take record locks, which flock
    // does not see. Where the file is open for writing an open-file lock on
    // all of it is taken too, so such a program waits for us as well; else
    // (or on a kernel without open-file locks) the locks are only looked at.
    struct flock all {};
    const auto whole = [&all] {
        all = {};
        all.l_type = F_WRLCK;
        all.l_whence = SEEK_SET;
    };
#ifdef F_OFD_SETLK
    whole();
    if (::fcntl(fd, F_OFD_SETLK, &all) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    whole();
    if (::fcntl(fd, F_OFD_GETLK, &all) == 0) return all.l_type == F_UNLCK;
#endif
    whole();
    if (::fcntl(fd, F_GETLK, &all) == 0) return all.l_type == F_UNLCK;
    return true;
}

std::optional<bool> OpenForWritingElsewhere(const std::string& path) {
#ifdef F_SETLEASE
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<bool> answer;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        answer = false;
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN) {
        answer = true;
    }
    ::close(fd);
    return answer;
#else
    (void)path;
    return std::nullopt;
#endif
}

long ProcessId() { return static_cast<long>(::getpid()); }

// Anyone who can open the folder can flock it, readers included: nothing
// that a folder offers lets only its writers lock it. So the lock is waited
// for only so long. A folder we may not write gets no lock at all: no name
// can be made there, and the naming fails with its own error instead of
// first waiting for a stranger.
Handle LockFolder(const std::string& folder, int waitMs, bool& timedOut) {
    timedOut = false;
    const int fd = ::open(FolderToOpen(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return kNoHandle;
    if (::access(FolderToOpen(folder).c_str(), W_OK) != 0) return fd;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs);
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return fd;
        if (Clock::now() >= until) {
            ::close(fd);
            timedOut = true;
            return kNoHandle;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, until - Clock::now()));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return fd;
}

void UnlockFolder(Handle lock) { CloseQuietly(lock); }

}  // namespace velmora::native
