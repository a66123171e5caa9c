#include "io/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "io/error.h"
#include "io/fault.h"
#include "io/paths.h"
#include "io/transfer.h"

namespace velmora {

namespace {

// Opens a regular file; -1 with errno set otherwise. A FIFO, socket or
// device sets notRegular instead: a FIFO would make open() wait for a writer
// (and hold up a whole batch), a device may act on being opened. The look
// before the open keeps them from being opened at all; the look at the open
// file catches one put there in between, and O_NONBLOCK keeps that open
// from waiting. A folder stays a file that cannot be opened (EISDIR).
int OpenRegular(const std::string& path, int flags, bool& notRegular) {
    notRegular = false;
    const auto special = [](const struct stat& st) { return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode); };
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && special(st)) {
        notRegular = true;
        return -1;
    }
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        notRegular = special(st);
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    // Reads of a regular file never wait anyway; the flag goes all the same.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

// The descriptor of a source, or the failure text.
int OpenSource(const std::string& path, int flags) {
    bool notRegular = false;
    const int fd = fault::BeforeOpen() ? -1 : OpenRegular(path, flags, notRegular);
    if (notRegular) throw VelmoraError(TextNotRegularFile(path));
    if (fd < 0) throw VelmoraError(TextCannotOpen(path), errno);
    return fd;
}

std::atomic<bool> unnamedAllowed{true};

// The folder itself as a path open() takes: "." for the current one.
std::string FolderToOpen(const std::string& folder) { return PathInFolder(folder, "."); }

// A fresh hidden name in the folder (as FolderPart gives it), taken by `take`
// (which returns false with errno EEXIST when the name is in use, to try
// another).
template <typename Take>
bool TakeTemporaryName(const std::string& folder, std::string& name, Take&& take) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name =
            PathInFolder(folder, ".velmora-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp");
        if (take(name)) return true;
        if (errno != EEXIST) break;
    }
    name.clear();
    return false;
}

FileIdentity IdentityFromStat(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::mutex protectedMutex;
std::vector<FileIdentity> protectedInputs;

std::vector<FileIdentity> ProtectedIdentities() {
    std::lock_guard<std::mutex> lock(protectedMutex);
    return protectedInputs;
}

OutputFile::NameState NameStateOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::atomic<int> folderLockWait{30000};

// An exclusive flock on a folder for as long as it lives. Where the folder
// cannot be locked (a file system without flock) it locks nothing.
//
// Anyone who can open the folder can flock it, readers included: nothing
// that a folder offers lets only its writers lock it. So the lock is waited
// for only so long; past that the naming fails with
// "出力フォルダ %s は他の処理が使用中のため…" and nothing is named, rather
// than naming without the lock (which could mix two runs' sets). A folder we
// may not write gets no lock at all: no name can be made there, and the
// naming fails with its own error instead of first waiting for a stranger.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(FolderToOpen(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ < 0 || ::access(FolderToOpen(folder).c_str(), W_OK) != 0) return;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(folderLockWait.load());
        auto pause = std::chrono::milliseconds(1);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return;
            if (Clock::now() >= until) {
                ::close(std::exchange(fd_, -1));
                throw VelmoraError(TextFolderLocked(folder.empty() ? "." : folder));
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, until - Clock::now()));
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
    }
    // Puts the folder's entries on disk: a name made in it survives a power
    // cut. Counted as a write, like the fsync of a file. Returns the errno of
    // a failure, 0 when synced, or where the folder could not be opened or
    // its file system cannot sync folders (EINVAL) and there is nothing to do.
    int sync() const {
        if (fault::BeforeWrite()) return EIO;
        if (fd_ < 0 || ::fsync(fd_) == 0 || errno == EINVAL) return 0;
        return errno;
    }
    FolderLock(FolderLock&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    FolderLock& operator=(FolderLock&&) = delete;
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_;
};

}  // namespace

// An output's own handle for the background sync: a duplicate of its file
// descriptor, so the number stays its own however long a sync takes, even
// after the output has closed.
struct OutputFile::SyncTarget {
    explicit SyncTarget(int outputFd) : fd(::fcntl(outputFd, F_DUPFD_CLOEXEC, 0)) {}
    ~SyncTarget() {
        if (fd >= 0) ::close(fd);
    }
    SyncTarget(const SyncTarget&) = delete;
    SyncTarget& operator=(const SyncTarget&) = delete;
    const int fd;
    std::mutex mutex;     // held while a sync of it runs
    int error = 0;        // the first failed background sync's errno
    bool ended = false;   // committed or discarded: no more syncs
    bool queued = false;  // guarded by the syncer's mutex
};

namespace {

// One thread that puts finished output bytes on disk while the work goes on.
// Starting writeback alone is not enough where the disk only finishes its
// writes at a flush (a virtual disk whose host caches them): then the whole
// output waited at the fsync before naming. A failure is kept for the
// output's commit: the file's error is reported only once, and that once
// may be here.
class BackgroundSyncer {
public:
    static BackgroundSyncer& Instance() {
        static BackgroundSyncer syncer;
        return syncer;
    }
    void request(const std::shared_ptr<OutputFile::SyncTarget>& target) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (target->queued || stop_) return;
        if (!thread_.joinable()) {
            // Without a thread the outputs are still synced at their commit.
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                return;
            }
        }
        target->queued = true;
        queue_.push_back(target);
        wake_.notify_one();
    }
    ~BackgroundSyncer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    BackgroundSyncer() = default;
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            std::shared_ptr<OutputFile::SyncTarget> target = std::move(queue_.front());
            queue_.pop_front();
            target->queued = false;
            lock.unlock();
            {
                std::lock_guard<std::mutex> held(target->mutex);
                if (!target->ended) {
                    const bool failed =
                        fault::BeforeBackgroundSync() ? (errno = EIO, true) : ::fdatasync(target->fd) != 0;
                    if (failed && errno != EINVAL && target->error == 0) target->error = errno;
                }
            }
            target.reset();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<OutputFile::SyncTarget>> queue_;
    std::thread thread_;
    bool stop_ = false;
};

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityFromStat(st);
}

void ProtectInput(const std::string& path) {
    if (const auto id = IdentityOf(path)) {
        std::lock_guard<std::mutex> lock(protectedMutex);
        protectedInputs.push_back(*id);
    }
}

void AllowUnnamedOutputs(bool allow) { unnamedAllowed = allow; }

void SetFolderLockWait(int milliseconds) { folderLockWait = milliseconds < 0 ? 0 : milliseconds; }

File File::OpenRead(const std::string& path) { return File(OpenSource(path, O_RDONLY), path); }

File File::OpenReadWrite(const std::string& path) { return File(OpenSource(path, O_RDWR), path); }

OutputFile OutputFile::Create(const std::string& path, std::initializer_list<const File*> inputs) {
    if (fault::BeforeOpen()) throw VelmoraError(TextCannotCreate(path));
    std::vector<FileIdentity> protectedFiles = ProtectedIdentities();
    for (const File* input : inputs)
        if (input && input->isOpen()) protectedFiles.push_back(input->identity());
    const auto isInput = [&](const struct stat& st) {
        const FileIdentity id = IdentityFromStat(st);
        return std::any_of(protectedFiles.begin(), protectedFiles.end(),
                           [&](const FileIdentity& p) { return p.sameFile(id); });
    };
    // The name itself is what an output replaces: a link there goes, and the
    // file it points to stays as it is, unless that file is an input, which
    // is refused as plainly as the input's own name.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            struct stat to {};
            if (::stat(path.c_str(), &to) == 0 && isInput(to)) throw VelmoraError(TextOutputIsInput(path));
        } else if (!S_ISREG(st.st_mode)) {
            throw VelmoraError(TextCannotCreate(path));
        } else if (isInput(st)) {
            throw VelmoraError(TextOutputIsInput(path));
        } else if (::access(path.c_str(), W_OK) != 0) {
            throw VelmoraError(TextCannotCreate(path));
        }
    } else if (errno != ENOENT) {
        throw VelmoraError(TextCannotCreate(path), errno);
    }
    const NameState before = NameStateOf(path);
    const std::string folder = FolderPart(path);
#if defined(__linux__) && defined(O_TMPFILE)
    // Naming it later goes through /proc/self/fd.
    if (unnamedAllowed && ::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(FolderToOpen(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) return OutputFile(File(fd, path), "", before);
    }
#endif
    int fd = -1;
    std::string temporary;
    TakeTemporaryName(folder, temporary, [&](const std::string& name) {
        fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        return fd >= 0;
    });
    if (fd < 0) throw VelmoraError(TextCannotCreate(path), errno);
    return OutputFile(File(fd, path), temporary, before);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::move(other.file_)),
      temporary_(std::exchange(other.temporary_, {})),
      before_(other.before_),
      gather_(other.gather_),
      pending_(std::move(other.pending_)),
      pendingLen_(std::exchange(other.pendingLen_, 0)),
      pendingCap_(std::exchange(other.pendingCap_, 0)),
      pendingAt_(other.pendingAt_),
      dirtyFrom_(other.dirtyFrom_),
      dirtyTo_(other.dirtyTo_),
      writtenTo_(other.writtenTo_),
      unsynced_(std::exchange(other.unsynced_, 0)),
      syncTarget_(std::move(other.syncTarget_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        file_ = std::move(other.file_);
        temporary_ = std::exchange(other.temporary_, {});
        before_ = other.before_;
        gather_ = other.gather_;
        pending_ = std::move(other.pending_);
        pendingLen_ = std::exchange(other.pendingLen_, 0);
        pendingCap_ = std::exchange(other.pendingCap_, 0);
        pendingAt_ = other.pendingAt_;
        dirtyFrom_ = other.dirtyFrom_;
        dirtyTo_ = other.dirtyTo_;
        writtenTo_ = other.writtenTo_;
        unsynced_ = std::exchange(other.unsynced_, 0);
        syncTarget_ = std::move(other.syncTarget_);
    }
    return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
    pendingLen_ = 0;
    // A sync under way finishes on its own descriptor; nothing waits for it.
    syncTarget_.reset();
    if (file_.fd_ >= 0) ::close(std::exchange(file_.fd_, -1));
    if (!temporary_.empty()) ::unlink(std::exchange(temporary_, {}).c_str());
}

void OutputFile::commit() { CommitAll({this}); }

void OutputFile::CommitAll(std::vector<OutputFile*> outputs) {
    // An output that has ended (committed, failed, moved from) has nothing
    // left to name: committing it again is a mistake of the caller's.
    for (const OutputFile* o : outputs)
        if (o == nullptr || !o->file_.isOpen()) throw std::logic_error("commit of an output that has ended");
    const auto discardAll = [&] {
        for (OutputFile* o : outputs) o->discard();
    };
    try {
        // Every output's writeback is under way before the first fsync
        // waits, so the disk works on all of them at once.
        for (OutputFile* o : outputs) {
            o->flush();
            o->startWriteback();
        }
        for (OutputFile* o : outputs) {
            o->file_.sync();
            o->endBackgroundSync();
        }
    } catch (const VelmoraError&) {
        discardAll();
        throw;
    }
    // Another run naming the same files waits here until this set is named.
    std::vector<std::string> folders;
    for (const OutputFile* o : outputs) folders.push_back(FolderPart(o->path()));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::vector<FolderLock> locks;
    try {
        for (const std::string& folder : folders) locks.emplace_back(folder);
    } catch (const VelmoraError&) {
        discardAll();
        throw;
    }
    for (OutputFile* o : outputs) {
        if (NameStateOf(o->path()) != o->before_) {
            const std::string path = o->path();
            discardAll();
            throw VelmoraError(TextOutputClash(path));
        }
    }
    for (OutputFile* o : outputs) o->name();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (const int err = locks[i].sync()) {
            // Named, but the names may not outlast a power cut.
            const auto in = std::find_if(outputs.begin(), outputs.end(),
                                         [&](const OutputFile* o) { return FolderPart(o->path()) == folders[i]; });
            throw VelmoraError(TextCannotWrite((*in)->path()), err);
        }
    }
}

void OutputFile::name() {
    const std::string& path = file_.path_;
    bool named = false;
    if (!temporary_.empty()) {
        // rename() replaces a link at the name, never what it points to.
        named = ::rename(temporary_.c_str(), path.c_str()) == 0;
        if (named) temporary_.clear();
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(file_.fd_);
        const auto link = [&](const std::string& name) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        };
        named = link(path);
        if (!named && errno == EEXIST) {
            // A link cannot replace a file: name it beside, then rename over.
            std::string beside;
            if (TakeTemporaryName(FolderPart(path), beside, link)) {
                named = ::rename(beside.c_str(), path.c_str()) == 0;
                if (!named) ::unlink(beside.c_str());
            }
        }
    }
    if (!named) {
        const int err = errno;
        discard();
        throw VelmoraError(TextCannotWrite(path), err);
    }
    // The bytes are on disk and named; closing cannot lose them now.
    ::close(std::exchange(file_.fd_, -1));
}

void PatchInPlace(File& file, std::uint64_t offset, const void* bytes, std::size_t n) {
    std::vector<std::uint8_t> old(n), back(n);
    if (file.readAt(offset, old.data(), n) != n) throw VelmoraError(TextCannotRead(file.path()));
    try {
        file.writeAt(offset, bytes, n);
        file.sync();
        if (file.readAt(offset, back.data(), n) != n || std::memcmp(back.data(), bytes, n) != 0)
            throw VelmoraError(TextCannotWrite(file.path()));
    } catch (const VelmoraError&) {
        // Put the old bytes back (harmless when none had changed).
        try {
            file.writeAt(offset, old.data(), n);
            file.sync();
        } catch (const VelmoraError&) {
        }
        throw;
    }
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), pos_(other.pos_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        pos_ = other.pos_;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

std::uint64_t File::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw VelmoraError(TextCannotRead(path_), errno);
    return static_cast<std::uint64_t>(st.st_size);
}

FileIdentity File::identity() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw VelmoraError(TextCannotRead(path_));
    return IdentityFromStat(st);
}

bool File::tryLockExclusive() {
    for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) break;
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
    if (::fcntl(fd_, F_OFD_SETLK, &all) == 0) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    whole();
    if (::fcntl(fd_, F_OFD_GETLK, &all) == 0) return all.l_type == F_UNLCK;
#endif
    whole();
    if (::fcntl(fd_, F_GETLK, &all) == 0) return all.l_type == F_UNLCK;
    return true;
}

std::size_t File::readAt(std::uint64_t offset, void* buf, std::size_t n) {
    auto* p = static_cast<char*>(buf);
    const Transferred t = Transfer(n, [&](std::size_t done) -> ssize_t {
        if (fault::BeforeRead()) {
            errno = EIO;
            return -1;
        }
        return ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    });
    if (t.error != 0) throw VelmoraError(TextCannotRead(path_), t.error);
    return t.bytes;
}

void File::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    const auto* p = static_cast<const char*>(buf);
    const Transferred t = Transfer(n, [&](std::size_t done) -> ssize_t {
        if (fault::BeforeWrite()) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    });
    if (t.bytes < n) throw VelmoraError(TextCannotWrite(path_), t.error);
}

std::size_t File::read(void* buf, std::size_t n) {
    std::size_t r = readAt(pos_, buf, n);
    pos_ += r;
    return r;
}

void File::sync() {
    // Counted as a write: it is where a full disk may first show.
    if (fault::BeforeWrite()) throw VelmoraError(TextCannotWrite(path_), ENOSPC);
    if (::fsync(fd_) != 0) throw VelmoraError(TextCannotWrite(path_), errno);
}

void File::close() {
    if (fd_ < 0) return;
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) throw VelmoraError(TextCannotWrite(path_), errno);
}

void OutputFile::setGather(std::size_t bytes) {
    flush();
    gather_ = bytes;
    if (pendingCap_ != bytes) {
        pending_.reset();
        pendingCap_ = 0;
    }
}

bool OutputFile::gathers(std::size_t n) const {
    // A write that fills the gathering alone goes straight through.
    return gather_ > 0 && n < gather_;
}

std::uint8_t* OutputFile::gatherSpace(std::uint64_t offset, std::size_t n) {
    // Bytes elsewhere than after the gathered ones, or more than fit, first
    // hand those over.
    if (pendingLen_ > 0 && (pendingAt_ + pendingLen_ != offset || pendingLen_ + n > gather_)) flush();
    if (pendingCap_ < gather_) {
        pending_ = std::make_unique_for_overwrite<std::uint8_t[]>(gather_);
        pendingCap_ = gather_;
    }
    if (pendingLen_ == 0) pendingAt_ = offset;
    std::uint8_t* p = pending_.get() + pendingLen_;
    pendingLen_ += n;
    return p;
}

void OutputFile::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    const bool continues = pendingLen_ > 0 ? offset == pendingAt_ + pendingLen_ : offset == writtenTo_ && offset > 0;
    if (continues && gathers(n)) {
        if (n > 0) std::memcpy(gatherSpace(offset, n), buf, n);
        return;
    }
    flush();
    writeThrough(offset, buf, n);
}

std::uint8_t* OutputFile::writeInPlace(std::size_t n) {
    if (gather_ == 0 || n > gather_) return nullptr;
    std::uint8_t* p = gatherSpace(file_.pos_, n);
    file_.pos_ += n;
    return p;
}

void OutputFile::write(const void* buf, std::size_t n) {
    if (gathers(n)) {
        if (n > 0) std::memcpy(gatherSpace(file_.pos_, n), buf, n);
    } else {
        flush();
        writeThrough(file_.pos_, buf, n);
    }
    file_.pos_ += n;
}

void OutputFile::flush() {
    if (pendingLen_ == 0) return;
    const std::uint64_t at = pendingAt_;
    const std::size_t n = std::exchange(pendingLen_, 0);  // a failed write is not tried again
    writeThrough(at, pending_.get(), n);
}

void OutputFile::writeThrough(std::uint64_t offset, const void* buf, std::size_t n) {
    file_.writeAt(offset, buf, n);
    wrote(offset, n);
}

void OutputFile::wrote(std::uint64_t offset, std::size_t n) {
    writtenTo_ = offset + n;
    if (n == 0) return;
    // At least 1 MiB per call, so each gathered write (and each 1 MiB
    // block a BlockMover splices) starts its own: large enough for the disk,
    // and the writeback follows the work closely.
    constexpr std::uint64_t kWritebackRange = std::uint64_t{1} << 20;
    if (dirtyTo_ > dirtyFrom_ && offset != dirtyTo_) startWriteback();
    if (dirtyTo_ == dirtyFrom_) dirtyFrom_ = offset;
    dirtyTo_ = offset + n;
    if (dirtyTo_ - dirtyFrom_ >= kWritebackRange) startWriteback();
    // Every few MiB the output is synced beside the work, so that the fsync
    // before naming does not wait for all of it.
    constexpr std::uint64_t kBackgroundSyncBytes = std::uint64_t{8} << 20;
    unsynced_ += n;
    if (unsynced_ >= kBackgroundSyncBytes) {
        unsynced_ = 0;
        if (!syncTarget_) syncTarget_ = std::make_shared<SyncTarget>(file_.fd_);
        if (syncTarget_->fd >= 0) BackgroundSyncer::Instance().request(syncTarget_);
    }
}

void OutputFile::endBackgroundSync() {
    if (!syncTarget_) return;
    int error = 0;
    {
        // Waits for a sync under way: its failure counts too.
        std::lock_guard<std::mutex> lock(syncTarget_->mutex);
        syncTarget_->ended = true;
        error = syncTarget_->error;
    }
    syncTarget_.reset();
    if (error != 0) throw VelmoraError(TextCannotWrite(path()), error);
}

void OutputFile::startWriteback() {
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    // Only a start: a failure here shows again, and is reported, at the fsync.
    if (dirtyTo_ > dirtyFrom_)
        ::sync_file_range(file_.fd_, static_cast<off_t>(dirtyFrom_), static_cast<off_t>(dirtyTo_ - dirtyFrom_),
                          SYNC_FILE_RANGE_WRITE);
#endif
    dirtyFrom_ = dirtyTo_;
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

}  // namespace velmora
