#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "wav/error.h"
#include "wav/fault.h"
#include "wav/file.h"

namespace velmora {

namespace {

// A pipe larger than this is not asked for; such blocks go through the buffer.
constexpr std::size_t kMaxPipe = 1u << 24;

#ifdef __linux__
// splice() refuses files it cannot move (no support in the file system, an
// appending output, no such call): then nothing has moved.
bool CannotSplice(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// pread/pwrite of all n bytes at offset; fewer only at the end of the file.
std::size_t ReadFully(int fd, std::uint64_t offset, std::uint8_t* p, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return static_cast<std::size_t>(-1);
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

bool WriteFully(int fd, std::uint64_t offset, const std::uint8_t* p, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<std::size_t>(r);
    }
    return true;
}
#endif

}  // namespace

BlockMover::BlockMover(std::size_t blockSize) : blockSize_(blockSize) {
#ifdef __linux__
    if (blockSize_ > 0 && blockSize_ <= kMaxPipe && ::pipe2(pipe_, O_CLOEXEC) == 0) {
        const int capacity = ::fcntl(pipe_[1], F_SETPIPE_SZ, static_cast<int>(blockSize_));
        const long page = ::sysconf(_SC_PAGESIZE);
        if (capacity >= 0 && static_cast<std::size_t>(capacity) >= blockSize_ && page > 0) {
            pipeBytes_ = static_cast<std::size_t>(capacity);
            page_ = static_cast<std::size_t>(page);
            return;
        }
    }
#endif
    useBuffer();
}

BlockMover::~BlockMover() {
    for (int& fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void BlockMover::useBuffer() {
    for (int& fd : pipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    inPipe_ = held_ = 0;
    buffer_.resize(blockSize_);
}

// Drops what the pipe still holds, so the next block starts with it empty.
void BlockMover::emptyPipe() {
    std::uint8_t scratch[4096];
    while (inPipe_ > 0) {
        const ssize_t k = ::read(pipe_[0], scratch, std::min(inPipe_, sizeof scratch));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) {
            useBuffer();  // a pipe that cannot be emptied is not used again
            return;
        }
        inPipe_ -= static_cast<std::size_t>(k);
    }
}

std::size_t BlockMover::read(File& src, std::size_t n) {
    n = std::min(n, blockSize_);
    if (pipe_[0] >= 0) emptyPipe();
    held_ = 0;
    if (pipe_[0] < 0) return held_ = src.read(buffer_.data(), n);
#ifdef __linux__
    if (fault::BeforeRead()) throw VelmoraError(TextCannotRead(src.path_));
    // The pipe holds whole pages of the file: a block that starts inside a
    // page needs one page more than its length. What does not fit is read
    // into the buffer.
    const std::size_t fits = pipeBytes_ - static_cast<std::size_t>(src.pos_ % page_);
    const std::size_t toPipe = std::min(n, fits);
    std::size_t done = 0;
    while (done < toPipe) {
        loff_t at = static_cast<loff_t>(src.pos_ + done);
        const ssize_t r = ::splice(src.fd_, &at, pipe_[1], nullptr, toPipe - done, SPLICE_F_NONBLOCK);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno == EAGAIN) break;
        if (r < 0 && done == 0 && CannotSplice(errno)) {
            useBuffer();
            return held_ = src.read(buffer_.data(), n);
        }
        if (r < 0) throw VelmoraError(TextCannotRead(src.path_), errno);
        if (r == 0) {  // end of file
            n = done;
            break;
        }
        done += static_cast<std::size_t>(r);
    }
    inPipe_ = done;
    if (done < n) {
        if (buffer_.size() < n - done) buffer_.resize(blockSize_);
        const std::size_t got = ReadFully(src.fd_, src.pos_ + done, buffer_.data(), n - done);
        if (got == static_cast<std::size_t>(-1)) throw VelmoraError(TextCannotRead(src.path_), errno);
        done += got;
    }
    src.pos_ += done;
    held_ = done;
#endif
    return held_;
}

void BlockMover::write(File& dst, std::size_t n) {
    dst.flush();  // bytes it gathered go first, at their own place
    n = std::min(n, held_);
    if (pipe_[0] < 0) {
        dst.write(buffer_.data(), n);
        held_ = 0;
        return;
    }
#ifdef __linux__
    if (fault::BeforeWrite()) throw VelmoraError(TextCannotWrite(dst.path_));
    const std::size_t fromPipe = std::min(n, inPipe_);
    std::size_t done = 0;
    while (done < fromPipe) {
        loff_t at = static_cast<loff_t>(dst.pos_ + done);
        const ssize_t r = ::splice(pipe_[0], nullptr, dst.fd_, &at, fromPipe - done, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && done == 0 && CannotSplice(errno)) {
            // The output takes no splice: this block and the next ones go
            // through the buffer.
            std::vector<std::uint8_t> block(held_);
            std::size_t got = 0;
            while (got < inPipe_) {
                const ssize_t k = ::read(pipe_[0], block.data() + got, inPipe_ - got);
                if (k < 0 && errno == EINTR) continue;
                if (k <= 0) throw VelmoraError(TextCannotWrite(dst.path_));
                got += static_cast<std::size_t>(k);
            }
            std::copy(buffer_.begin(), buffer_.begin() + static_cast<long>(held_ - inPipe_),
                      block.begin() + static_cast<long>(inPipe_));
            useBuffer();
            std::copy(block.begin(), block.end(), buffer_.begin());
            dst.write(buffer_.data(), n);
            return;
        }
        if (r <= 0) throw VelmoraError(TextCannotWrite(dst.path_), r < 0 ? errno : 0);
        done += static_cast<std::size_t>(r);
    }
    inPipe_ -= fromPipe;
    if (n > fromPipe && !WriteFully(dst.fd_, dst.pos_ + fromPipe, buffer_.data(), n - fromPipe))
        throw VelmoraError(TextCannotWrite(dst.path_), errno);
    dst.wrote(dst.pos_, n);
    dst.pos_ += n;
    // Bytes read but not to be written are dropped.
    emptyPipe();
    held_ = 0;
#endif
}

}  // namespace velmora
