#include "wav/file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>
#include <vector>

#include "wav/error.h"
#include "wav/fault.h"

namespace velmora {

namespace {

int OpenRegular(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

std::atomic<bool> unnamedAllowed{true};

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name that an output may take: free, or a regular file we could have
// opened for writing (the one an output replaces). False leaves the reason in errno.
bool MayReplace(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::access(path.c_str(), W_OK) == 0;
}

// A fresh hidden name in the folder, taken by `take` (which returns false
// with errno EEXIST when the name is in use, to try another).
template <typename Take>
bool TakeTemporaryName(const std::string& folder, std::string& name, Take&& take) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/.velmora-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        if (take(name)) return true;
        if (errno != EEXIST) break;
    }
    name.clear();
    return false;
}

}  // namespace

void AllowUnnamedOutputs(bool allow) { unnamedAllowed = allow; }

File File::OpenRead(const std::string& path) {
    int fd = fault::BeforeOpen() ? -1 : OpenRegular(path, O_RDONLY);
    if (fd < 0) throw VelmoraError(TextCannotOpen(path), errno);
    return File(fd, path);
}

File File::OpenReadWrite(const std::string& path) {
    int fd = fault::BeforeOpen() ? -1 : OpenRegular(path, O_RDWR);
    if (fd < 0) throw VelmoraError(TextCannotOpen(path), errno);
    return File(fd, path);
}

File File::Create(const std::string& path) {
    // Read-write, so the multiplex writer can read back what it wrote.
    int fd = fault::BeforeOpen() ? -1
                                 : ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int err = errno;
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
            err = EISDIR;
        }
    }
    if (fd < 0) throw VelmoraError(TextCannotCreate(path), err);
    return File(fd, path);
}

OutputFile OutputFile::Create(const std::string& path) {
    if (fault::BeforeOpen()) throw VelmoraError(TextCannotCreate(path));
    // A link at that name: the file it names is the one replaced, as when
    // it was opened and truncated through the link.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (!MayReplace(target)) throw VelmoraError(TextCannotCreate(path), errno);
    const std::string folder = FolderOf(target);
#if defined(__linux__) && defined(O_TMPFILE)
    // Naming it later goes through /proc/self/fd.
    if (unnamedAllowed && ::access("/proc/self/fd", X_OK) == 0) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) return OutputFile(fd, path, target, "");
    }
#endif
    int fd = -1;
    std::string temporary;
    TakeTemporaryName(folder, temporary, [&](const std::string& name) {
        fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd >= 0;
    });
    if (fd < 0) throw VelmoraError(TextCannotCreate(path), errno);
    return OutputFile(fd, path, target, temporary);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : File(std::move(other)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        File::operator=(std::move(other));
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, {});
    }
    return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temporary_.empty()) ::unlink(std::exchange(temporary_, {}).c_str());
}

void OutputFile::commit() {
    if (fd_ < 0) return;
    try {
        sync();
    } catch (const VelmoraError&) {
        discard();
        throw;
    }
    bool named = false;
    if (!temporary_.empty()) {
        named = ::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (named) temporary_.clear();
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        const auto link = [&](const std::string& name) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        };
        named = link(target_);
        if (!named && errno == EEXIST) {
            // A link cannot replace a file: name it beside, then rename over.
            std::string beside;
            if (TakeTemporaryName(FolderOf(target_), beside, link)) {
                named = ::rename(beside.c_str(), target_.c_str()) == 0;
                if (!named) ::unlink(beside.c_str());
            }
        }
    }
    if (!named) {
        const int err = errno;
        discard();
        throw VelmoraError(TextCannotWrite(path_), err);
    }
    // The bytes are on disk and named; closing cannot lose them now.
    ::close(std::exchange(fd_, -1));
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

std::size_t File::readAt(std::uint64_t offset, void* buf, std::size_t n) {
    auto* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r;
        if (fault::BeforeRead()) {
            r = -1;
            errno = EIO;
        } else {
            r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            throw VelmoraError(TextCannotRead(path_), errno);
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

void File::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    const auto* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r;
        if (fault::BeforeWrite()) {
            r = -1;
            errno = ENOSPC;
        } else {
            r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            throw VelmoraError(TextCannotWrite(path_), errno);
        }
        if (r == 0) throw VelmoraError(TextCannotWrite(path_));
        done += static_cast<std::size_t>(r);
    }
}

std::size_t File::read(void* buf, std::size_t n) {
    std::size_t r = readAt(pos_, buf, n);
    pos_ += r;
    return r;
}

void File::write(const void* buf, std::size_t n) {
    writeAt(pos_, buf, n);
    pos_ += n;
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

std::int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace velmora
