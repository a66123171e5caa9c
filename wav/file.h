// Files with 64-bit positions. Every open, read and write of the core goes
// through this class, so failures carry the user's failure texts and every
// descriptor is closed on every path (RAII).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class File {
public:
    // Source files: regular files only ("ファイル %s は開けません" otherwise).
    static File OpenRead(const std::string& path);
    // The two in-place repairs and the multiplex writer's read-back.
    static File OpenReadWrite(const std::string& path);
    // New output, truncated when it exists ("ファイル %s を作成できません").
    static File Create(const std::string& path);

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    std::uint64_t size() const;

    // Reads up to n bytes at the given position; fewer only at the end of the
    // file. A read error throws "ファイル %s を最後まで読めませんでした".
    std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n);
    // Writes all n bytes or throws "ファイル %s に書き込めません".
    void writeAt(std::uint64_t offset, const void* buf, std::size_t n);
    // Extends the file from its end at offset by n bytes that read back as
    // zeros, letting the file system allocate them instead of writing them.
    // Returns false, changing nothing, when it cannot (offset not at or past
    // the end, or no such support); a full disk throws as a failed write.
    bool extendWithZeros(std::uint64_t offset, std::size_t n);

    // Sequential variants working from the current position.
    void seek(std::uint64_t offset) { pos_ = offset; }
    std::uint64_t position() const { return pos_; }
    std::size_t read(void* buf, std::size_t n);
    void write(const void* buf, std::size_t n);

    // Closes now; a failing close of an output is a failed write.
    void close();
    // Closes and removes a new output that will not be finished.
    void discard() noexcept;

private:
    friend class BlockMover;
    File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_;
    std::uint64_t pos_ = 0;
};

// Copies blocks from one file to another as read() then write() would, one
// call each per block, but through a pipe inside the kernel: the data is
// copied once (into the output's page cache) instead of out to user memory
// and back. Where the files cannot be spliced it uses a buffer of its own.
class BlockMover {
public:
    explicit BlockMover(std::size_t blockSize);
    ~BlockMover();
    BlockMover(const BlockMover&) = delete;
    BlockMover& operator=(const BlockMover&) = delete;

    // Reads up to n bytes (at most the block size) from src's position, as
    // File::read: fewer only at the end of the file.
    std::size_t read(File& src, std::size_t n);
    // Writes the first n of the bytes last read at dst's position, as
    // File::write; the rest of them are dropped.
    void write(File& dst, std::size_t n);

private:
    void useBuffer();
    void emptyPipe();
    std::size_t blockSize_;
    int pipe_[2] = {-1, -1};
    std::size_t pipeBytes_ = 0, page_ = 0;  // the pipe's capacity, the page size
    std::size_t inPipe_ = 0;  // the first bytes of the block read, in the pipe
    std::size_t held_ = 0;    // all bytes of the block read; past inPipe_ in buffer_
    std::vector<std::uint8_t> buffer_;
};

// Length of the file at path, or -1 when there is no such entry.
std::int64_t FileSizeOf(const std::string& path);

}  // namespace velmora
