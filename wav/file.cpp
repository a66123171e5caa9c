#include "file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "error.h"
#include "fault.h"

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

}  // namespace

File File::OpenRead(const std::string& path) {
    int fd = fault::BeforeOpen() ? -1 : OpenRegular(path, O_RDONLY);
    if (fd < 0) throw VelmoraError(TextCannotOpen(path));
    return File(fd, path);
}

File File::OpenReadWrite(const std::string& path) {
    int fd = fault::BeforeOpen() ? -1 : OpenRegular(path, O_RDWR);
    if (fd < 0) throw VelmoraError(TextCannotOpen(path));
    return File(fd, path);
}

File File::Create(const std::string& path) {
    // Read-write, so the multiplex writer can read back what it wrote.
    int fd = fault::BeforeOpen() ? -1
                                 : ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) throw VelmoraError(TextCannotCreate(path));
    return File(fd, path);
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
    if (::fstat(fd_, &st) != 0) throw VelmoraError(TextCannotRead(path_));
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
            throw VelmoraError(TextCannotRead(path_));
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
            throw VelmoraError(TextCannotWrite(path_));
        }
        if (r == 0) throw VelmoraError(TextCannotWrite(path_));
        done += static_cast<std::size_t>(r);
    }
}

bool File::extendWithZeros(std::uint64_t offset, std::size_t n) {
#ifdef __linux__
    if (offset < size()) return false;  // would keep what is there, not zero it
    while (::fallocate(fd_, 0, static_cast<off_t>(offset), static_cast<off_t>(n)) != 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO)
            throw VelmoraError(TextCannotWrite(path_));
        return false;  // not offered here: the caller writes the zeros
    }
    // Counted as the write it stands for.
    if (fault::BeforeWrite()) throw VelmoraError(TextCannotWrite(path_));
    return true;
#else
    (void)offset;
    (void)n;
    return false;
#endif
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

void File::close() {
    if (fd_ < 0) return;
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) throw VelmoraError(TextCannotWrite(path_));
}

void File::discard() noexcept {
    if (fd_ < 0) return;
    ::close(std::exchange(fd_, -1));
    ::unlink(path_.c_str());
}

std::int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace velmora
