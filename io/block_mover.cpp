#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>

#include "io/error.h"
#include "io/fault.h"
#include "io/file.h"
#include "io/transfer.h"

namespace velmora {

namespace {

// A pipe larger than this is not asked for; such blocks go through the buffer.
#ifdef __linux__
constexpr std::size_t kMaxPipe = 1u << 24;

// The result of a system call in Transfer's terms.
long long Posix(ssize_t r, int& error) {
    if (r < 0) error = errno;
    return r;
}

// splice() refuses files it cannot move (no support in the file system, an
// appending output, no such call): then nothing has moved.
bool CannotSplice(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// Reads n bytes from the pipe into p.
Transferred ReadPipe(int pipe, std::uint8_t* p, std::size_t n) {
    return Transfer(n, [&](std::size_t done, int& error) { return Posix(::read(pipe, p + done, n - done), error); });
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

BlockMover::~BlockMover() { useBuffer(); }

void BlockMover::useBuffer() {
    for (int& fd : pipe_) {
#ifdef __linux__
        if (fd >= 0) ::close(fd);
#endif
        fd = -1;
    }
    inPipe_ = held_ = 0;
    buffer_.resize(blockSize_);
}

// Drops what the pipe still holds, so the next block starts with it empty.
void BlockMover::emptyPipe() {
#ifdef __linux__
    std::uint8_t scratch[4096];
    while (inPipe_ > 0) {
        const std::size_t want = std::min(inPipe_, sizeof scratch);
        if (ReadPipe(pipe_[0], scratch, want).bytes < want) {
            useBuffer();  // a pipe that cannot be emptied is not used again
            return;
        }
        inPipe_ -= want;
    }
#endif
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
    const Transferred spliced = Transfer(toPipe, [&](std::size_t done, int& error) {
        loff_t at = static_cast<loff_t>(src.pos_ + done);
        return Posix(::splice(static_cast<int>(src.fd_), &at, pipe_[1], nullptr, toPipe - done, SPLICE_F_NONBLOCK),
                     error);
    });
    std::size_t done = spliced.bytes;
    if (spliced.error == EAGAIN) {
        // The pipe is full: the rest goes through the buffer.
    } else if (spliced.error != 0 && done == 0 && CannotSplice(spliced.error)) {
        useBuffer();
        return held_ = src.read(buffer_.data(), n);
    } else if (spliced.error != 0) {
        throw VelmoraError(TextCannotRead(src.path_), spliced.error);
    } else if (done < toPipe) {
        n = done;  // end of file
    }
    inPipe_ = done;
    if (done < n) {
        if (buffer_.size() < n - done) buffer_.resize(blockSize_);
        std::uint8_t* p = buffer_.data();
        const std::uint64_t from = src.pos_ + done;
        const std::size_t want = n - done;
        const Transferred got = Transfer(want, [&](std::size_t k, int& error) {
            return Posix(::pread(static_cast<int>(src.fd_), p + k, want - k, static_cast<off_t>(from + k)), error);
        });
        if (got.error != 0) throw VelmoraError(TextCannotRead(src.path_), got.error);
        done += got.bytes;
    }
    src.pos_ += done;
    held_ = done;
#endif
    return held_;
}

void BlockMover::write(OutputFile& out, std::size_t n) {
    out.flush();  // bytes it gathered go first, at their own place
    n = std::min(n, held_);
    if (pipe_[0] < 0) {
        out.write(buffer_.data(), n);
        held_ = 0;
        return;
    }
#ifdef __linux__
    File& dst = out.file_;
    if (fault::BeforeWrite()) throw VelmoraError(TextCannotWrite(dst.path_));
    const std::size_t fromPipe = std::min(n, inPipe_);
    const Transferred spliced = Transfer(fromPipe, [&](std::size_t done, int& error) {
        loff_t at = static_cast<loff_t>(dst.pos_ + done);
        return Posix(::splice(pipe_[0], nullptr, static_cast<int>(dst.fd_), &at, fromPipe - done, 0), error);
    });
    if (spliced.error != 0 && spliced.bytes == 0 && CannotSplice(spliced.error)) {
        // The output takes no splice: this block and the next ones go
        // through the buffer.
        std::vector<std::uint8_t> block(held_);
        if (ReadPipe(pipe_[0], block.data(), inPipe_).bytes < inPipe_) throw VelmoraError(TextCannotWrite(dst.path_));
        std::copy(buffer_.begin(), buffer_.begin() + static_cast<long>(held_ - inPipe_),
                  block.begin() + static_cast<long>(inPipe_));
        useBuffer();
        std::copy(block.begin(), block.end(), buffer_.begin());
        out.write(buffer_.data(), n);
        return;
    }
    if (spliced.bytes < fromPipe) throw VelmoraError(TextCannotWrite(dst.path_), spliced.error);
    inPipe_ -= fromPipe;
    if (n > fromPipe) {
        const std::uint8_t* p = buffer_.data();
        const std::uint64_t from = dst.pos_ + fromPipe;
        const std::size_t want = n - fromPipe;
        const Transferred put = Transfer(want, [&](std::size_t k, int& error) {
            return Posix(::pwrite(static_cast<int>(dst.fd_), p + k, want - k, static_cast<off_t>(from + k)), error);
        });
        if (put.bytes < want) throw VelmoraError(TextCannotWrite(dst.path_), put.error);
    }
    out.wrote(dst.pos_, n);
    dst.pos_ += n;
    // Bytes read but not to be written are dropped.
    emptyPipe();
    held_ = 0;
#endif
}

}  // namespace velmora
