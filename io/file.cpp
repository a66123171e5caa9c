#include "io/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
#include "native.h"
#include "io/paths.h"
#include "io/transfer.h"

namespace velmora {

namespace {

// The handle of a source, or the failure text.
native::Handle OpenSource(const std::string& path, bool write) {
    bool notRegular = false;
    int error = 0;
    const native::Handle h =
        fault::BeforeOpen() ? native::kNoHandle : native::OpenExisting(path, write, notRegular, error);
    if (notRegular) throw VelmoraError(TextNotRegularFile(path));
    if (h == native::kNoHandle) throw VelmoraError(TextCannotOpen(path), error);
    return h;
}

std::atomic<bool> unnamedAllowed{true};

// A fresh hidden name in the folder (as FolderPart gives it), taken by `take`
// (which returns false with `error` EEXIST when the name is in use, to try
// another).
template <typename Take>
bool TakeTemporaryName(const std::string& folder, std::string& name, int& error, Take&& take) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = PathInFolder(
            folder, ".velmora-" + std::to_string(native::ProcessId()) + "-" + std::to_string(counter++) + ".tmp");
        if (take(name)) return true;
        if (error != EEXIST) break;
    }
    name.clear();
    return false;
}

std::mutex protectedMutex;
std::vector<FileIdentity> protectedInputs;

std::vector<FileIdentity> ProtectedIdentities() {
    std::lock_guard<std::mutex> lock(protectedMutex);
    return protectedInputs;
}

OutputFile::NameState NameStateFrom(const std::optional<native::Look>& look) {
    if (!look) return {};
    return {true, look->identity.device, look->identity.inode, look->changedNs};
}

OutputFile::NameState NameStateOf(const std::string& path) { return NameStateFrom(native::LookAt(path, false)); }

std::atomic<int> folderLockWait{30000};

// An exclusive lock on a folder for as long as it lives, against other runs
// naming files there. Where the folder cannot be locked it locks nothing.
// Held by another process past the wait, the naming fails with
// "出力フォルダ %s は他の処理が使用中のため…" and nothing is named, rather
// than naming without the lock (which could mix two runs' sets).
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) : folder_(folder) {
        bool timedOut = false;
        lock_ = native::LockFolder(folder, folderLockWait.load(), timedOut);
        if (timedOut) throw VelmoraError(TextFolderLocked(folder.empty() ? "." : folder));
    }
    // Puts the folder's entries on disk: a name made in it survives a power
    // cut. Counted as a write, like the fsync of a file. Returns the code of
    // a failure, 0 when synced or there is nothing to do.
    int sync() const {
        if (fault::BeforeWrite()) return EIO;
        return native::SyncFolder(folder_);
    }
    FolderLock(FolderLock&& o) noexcept
        : folder_(std::move(o.folder_)), lock_(std::exchange(o.lock_, native::kNoHandle)) {}
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    FolderLock& operator=(FolderLock&&) = delete;
    ~FolderLock() {
        if (lock_ != native::kNoHandle) native::UnlockFolder(lock_);
    }

private:
    std::string folder_;
    native::Handle lock_ = native::kNoHandle;
};

}  // namespace

// An output's own handle for the background sync: a duplicate of its file
// descriptor, so the number stays its own however long a sync takes, even
// after the output has closed.
struct OutputFile::SyncTarget {
    explicit SyncTarget(native::Handle outputFd) : fd(native::Duplicate(outputFd)) {}
    ~SyncTarget() { native::CloseQuietly(fd); }
    SyncTarget(const SyncTarget&) = delete;
    SyncTarget& operator=(const SyncTarget&) = delete;
    const native::Handle fd;
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
                    int error = 0;
                    const bool failed =
                        fault::BeforeBackgroundSync() ? (error = EIO, true) : !native::Sync(target->fd, true, error);
                    if (failed && error != EINVAL && target->error == 0) target->error = error;
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
    const std::optional<native::Look> look = native::LookAt(path, true);
    if (!look) return std::nullopt;
    return look->identity;
}

bool IsRegularFile(const std::string& path) {
    const std::optional<native::Look> look = native::LookAt(path, true);
    return look && look->kind == native::Kind::Regular;
}

bool NameTaken(const std::string& path) { return native::LookAt(path, false).has_value(); }

void ProtectInput(const std::string& path) {
    if (const auto id = IdentityOf(path)) {
        std::lock_guard<std::mutex> lock(protectedMutex);
        protectedInputs.push_back(*id);
    }
}

void AllowUnnamedOutputs(bool allow) { unnamedAllowed = allow; }

void SetFolderLockWait(int milliseconds) { folderLockWait = milliseconds < 0 ? 0 : milliseconds; }

File File::OpenRead(const std::string& path) { return File(OpenSource(path, false), path); }

File File::OpenReadWrite(const std::string& path) { return File(OpenSource(path, true), path); }

OutputFile OutputFile::Create(const std::string& path, std::initializer_list<const File*> inputs) {
    if (fault::BeforeOpen()) throw VelmoraError(TextCannotCreate(path));
    std::vector<FileIdentity> protectedFiles = ProtectedIdentities();
    for (const File* input : inputs)
        if (input && input->isOpen()) protectedFiles.push_back(input->identity());
    const auto isInput = [&](const FileIdentity& id) {
        return std::any_of(protectedFiles.begin(), protectedFiles.end(),
                           [&](const FileIdentity& p) { return p.sameFile(id); });
    };
    // The name itself is what an output replaces: a link there goes, and the
    // file it points to stays as it is, unless that file is an input, which
    // is refused as plainly as the input's own name.
    const std::optional<native::Look> look = native::LookAt(path, false);
    if (look) {
        if (look->kind == native::Kind::Link) {
            const std::optional<native::Look> to = native::LookAt(path, true);
            if (to && isInput(to->identity)) throw VelmoraError(TextOutputIsInput(path));
        } else if (look->kind != native::Kind::Regular) {
            throw VelmoraError(TextCannotCreate(path));
        } else if (isInput(look->identity)) {
            throw VelmoraError(TextOutputIsInput(path));
        } else if (!native::Writable(path)) {
            throw VelmoraError(TextCannotCreate(path));
        }
    } else if (const int error = errno; error != ENOENT) {
        // LookAt leaves the system's reason in errno.
        throw VelmoraError(TextCannotCreate(path), error);
    }
    const NameState before = NameStateFrom(look);
    const std::string folder = FolderPart(path);
    if (unnamedAllowed) {
        const native::Handle fd = native::CreateUnnamed(folder);
        if (fd != native::kNoHandle) return OutputFile(File(fd, path), "", before);
    }
    native::Handle fd = native::kNoHandle;
    int error = 0;
    std::string temporary;
    TakeTemporaryName(folder, temporary, error, [&](const std::string& name) {
        fd = native::CreateNew(name, error);
        return fd != native::kNoHandle;
    });
    if (fd == native::kNoHandle) throw VelmoraError(TextCannotCreate(path), error);
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
    if (file_.isOpen()) native::CloseQuietly(std::exchange(file_.fd_, -1));
    if (!temporary_.empty()) native::RemoveName(std::exchange(temporary_, {}));
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
    int error = 0;
    if (!temporary_.empty()) {
        // Some systems (Windows) rename only a closed file; the bytes are on
        // disk already, so closing first loses nothing.
        if (!native::Close(std::exchange(file_.fd_, -1), error)) {
            discard();
            throw VelmoraError(TextCannotWrite(path), error);
        }
        named = native::ReplaceName(temporary_, path, error);
        if (named) temporary_.clear();
    } else {
        const auto link = [&](const std::string& name) { return native::NameUnnamed(file_.fd_, name, error); };
        named = link(path);
        if (!named && error == EEXIST) {
            // A link cannot replace a file: name it beside, then rename over.
            std::string beside;
            if (TakeTemporaryName(FolderPart(path), beside, error, link)) {
                named = native::ReplaceName(beside, path, error);
                if (!named) native::RemoveName(beside);
            }
        }
    }
    if (!named) {
        discard();
        throw VelmoraError(TextCannotWrite(path), error);
    }
    // The bytes are on disk and named; closing cannot lose them now.
    if (file_.isOpen()) native::CloseQuietly(std::exchange(file_.fd_, -1));
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
        if (isOpen()) native::CloseQuietly(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        pos_ = other.pos_;
    }
    return *this;
}

File::~File() {
    if (isOpen()) native::CloseQuietly(fd_);
}

std::uint64_t File::size() const {
    FileIdentity id;
    int error = 0;
    if (!native::IdentityOfOpen(fd_, id, error)) throw VelmoraError(TextCannotRead(path_), error);
    return id.length;
}

FileIdentity File::identity() const {
    FileIdentity id;
    int error = 0;
    if (!native::IdentityOfOpen(fd_, id, error)) throw VelmoraError(TextCannotRead(path_));
    return id;
}

bool File::tryLockExclusive() { return native::TryLockExclusive(fd_); }

std::size_t File::readAt(std::uint64_t offset, void* buf, std::size_t n) {
    auto* p = static_cast<char*>(buf);
    const Transferred t = Transfer(n, [&](std::size_t done, int& error) -> long long {
        if (fault::BeforeRead()) {
            error = EIO;
            return -1;
        }
        return native::ReadAt(fd_, p + done, n - done, offset + done, error);
    });
    if (t.error != 0) throw VelmoraError(TextCannotRead(path_), t.error);
    return t.bytes;
}

void File::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    const auto* p = static_cast<const char*>(buf);
    const Transferred t = Transfer(n, [&](std::size_t done, int& error) -> long long {
        if (fault::BeforeWrite()) {
            error = ENOSPC;
            return -1;
        }
        return native::WriteAt(fd_, p + done, n - done, offset + done, error);
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
    int error = 0;
    if (!native::Sync(fd_, false, error)) throw VelmoraError(TextCannotWrite(path_), error);
}

void File::close() {
    if (fd_ < 0) return;
    int error = 0;
    if (!native::Close(std::exchange(fd_, -1), error)) throw VelmoraError(TextCannotWrite(path_), error);
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
        if (syncTarget_->fd != native::kNoHandle) BackgroundSyncer::Instance().request(syncTarget_);
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
    if (dirtyTo_ > dirtyFrom_) native::StartWriteback(file_.fd_, dirtyFrom_, dirtyTo_ - dirtyFrom_);
    dirtyFrom_ = dirtyTo_;
}

std::optional<bool> OpenForWritingElsewhere(const std::string& path) { return native::OpenForWritingElsewhere(path); }

}  // namespace velmora
