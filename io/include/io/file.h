// Files with 64-bit positions. Every open, read and write of the core goes
// through this class, so failures carry the user's failure texts and every
// descriptor is closed on every path (RAII).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// Which file a name or descriptor stands for, and how long it is: two looks
// with the same device and inode are the same file, whatever its names.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t length = 0;
    std::int64_t modifiedNs = 0;  // last change of the contents
    bool sameFile(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
};

// The file a path names now (following links); nullopt when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// Whether the path names a regular file (following links).
bool IsRegularFile(const std::string& path);
// Whether anything has the name: a link counts as itself, dangling or not.
bool NameTaken(const std::string& path);

class File {
public:
    // Source files: regular files only. A FIFO, socket or device is refused
    // without being opened ("ファイル %s は通常のファイルではありません"),
    // anything else that cannot be opened, a folder among them, is
    // "ファイル %s は開けません".
    static File OpenRead(const std::string& path);
    // The two in-place repairs and the recovery.
    static File OpenReadWrite(const std::string& path);
    // New files are OutputFiles, which never show a partial file.

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool isOpen() const { return fd_ != -1; }
    const std::string& path() const { return path_; }

    std::uint64_t size() const;
    // Device, inode and length of the open file.
    FileIdentity identity() const;
    std::int64_t modifiedNs() const { return identity().modifiedNs; }
    // An exclusive advisory lock (flock, and a record lock over the whole
    // file where it is open for writing), released when the file closes;
    // false when another process holds a flock or a record lock (fcntl,
    // lockf) on any of it.
    bool tryLockExclusive();

    // Reads up to n bytes at the given position; fewer only at the end of the
    // file. A read error throws "ファイル %s を最後まで読めませんでした".
    std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n);
    // Writes all n bytes or throws "ファイル %s に書き込めません".
    void writeAt(std::uint64_t offset, const void* buf, std::size_t n);
    // Sequential reading from the current position.
    void seek(std::uint64_t offset) { pos_ = offset; }
    std::uint64_t position() const { return pos_; }
    std::size_t read(void* buf, std::size_t n);

    // Flushes what was written to disk; a failure is a failed write.
    void sync();
    // Closes now; a failing close is a failed write.
    void close();

private:
    friend class BlockMover;
    friend class OutputFile;
    // fd_ is the system's handle of the open file (a descriptor, or a
    // Windows HANDLE); -1 when closed.
    File(std::intptr_t fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    std::intptr_t fd_ = -1;
    std::string path_;
    std::uint64_t pos_ = 0;
};

// A new output file that appears under its name only once it is complete.
// It is written unnamed in the output folder (O_TMPFILE) or, where the file
// system cannot do that, under a hidden temporary name there; commit() gives
// it its name, replacing a file of that name in one step, and syncs the
// folder so the name outlasts a power cut. Until then a file of that name
// stays as it was, and an output that is destroyed without commit() (a
// failure, an exception) leaves nothing behind. A killed process leaves
// nothing either with an unnamed file; a temporary name stays behind.
//
// It holds its file rather than being one: nothing can close it behind
// commit()'s back, and only commit() or destruction ends it.
class OutputFile {
public:
    // "ファイル %s を作成できません" when the folder cannot take a new file,
    // or the name is held by something other than a writable regular file or
    // a symbolic link. A link there is replaced as a name: the file it points
    // to is never written. "出力ファイル %s が入力ファイルと同じです" when the
    // name is one of `inputs` or of the protected inputs below, by any link.
    static OutputFile Create(const std::string& path, std::initializer_list<const File*> inputs = {});

    OutputFile() = default;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // The name it gets on commit().
    const std::string& path() const { return file_.path_; }

    // Writes all n bytes or throws "ファイル %s に書き込めません". Writes
    // that continue the bytes before them are gathered; one elsewhere (a
    // header, a patch) reaches the file before this returns.
    void writeAt(std::uint64_t offset, const void* buf, std::size_t n);
    // Sequential writing from the current position.
    void seek(std::uint64_t offset) { file_.pos_ = offset; }
    std::uint64_t position() const { return file_.pos_; }
    void write(const void* buf, std::size_t n);
    // The next n bytes at the position, to be filled in place before the
    // next call on this output: write() without a copy. nullptr where it
    // does not gather, or n is more than it gathers.
    std::uint8_t* writeInPlace(std::size_t n);

    // How many bytes of sequential writes it gathers into one call (after
    // handing over what it holds); an operation with many outputs keeps the
    // sum of them bounded.
    void setGather(std::size_t bytes);
    static constexpr std::size_t kDefaultGather = std::size_t{2} << 20;

    // Flushes the bytes to disk, names the file, syncs its folder and closes
    // it. While the output grows, one background thread syncs it every few
    // MiB, so little is left for this flush; a failure of one of those
    // syncs is this one's failure. A failure is "ファイル %s に書き込めません"
    // and, unless the name was made already, leaves nothing under the name.
    // Committing an output that has ended (committed, failed, moved from) is
    // a logic_error.
    void commit();

    // Commits a set of outputs as one: all flushed first, then named while
    // their folders are locked (flock) against other runs, after checking
    // that no other run has put anything under any of the names since they
    // were created ("出力ファイル %s を他の処理が同時に書き込んだため中止しました",
    // nothing named). Two runs writing the same names thus leave one run's
    // whole set, never a mix. A folder lock held by another process for
    // longer than SetFolderLockWait allows ends it with
    // "出力フォルダ %s は他の処理が使用中のため、出力ファイルを作成できませんでした",
    // nothing named.
    static void CommitAll(std::vector<OutputFile*> outputs);

    // What the name held when the output was created.
    struct NameState {
        bool exists = false;
        std::uint64_t device = 0, inode = 0;
        std::int64_t changedNs = 0;
        bool operator==(const NameState&) const = default;
    };

    // The file as the syncs beside the work hold it.
    struct SyncTarget;

private:
    friend class BlockMover;
    OutputFile(File file, std::string temporary, NameState before)
        : file_(std::move(file)), temporary_(std::move(temporary)), before_(before) {}
    void discard() noexcept;
    void name();

    // Hands the gathered bytes to the file now.
    void flush();
    void writeThrough(std::uint64_t offset, const void* buf, std::size_t n);
    // Bytes that reached the file at offset (by any road): writeback starts
    // once enough of them lie together.
    void wrote(std::uint64_t offset, std::size_t n);
    // Starts writeback of what wrote() collected (Linux; elsewhere nothing).
    void startWriteback();
    // After the final fsync: no more background syncs, and the failure of
    // one that failed is thrown as a failed write.
    void endBackgroundSync();
    bool gathers(std::size_t n) const;
    // n bytes at offset in the gathering, after the bytes it holds.
    std::uint8_t* gatherSpace(std::uint64_t offset, std::size_t n);

    File file_;
    std::string temporary_;  // the hidden name while written; "" when unnamed
    NameState before_;
    // Sequential writes are gathered into calls of a few MiB (fewer calls,
    // and whole ranges for the writeback); 0 writes every call through.
    std::size_t gather_ = kDefaultGather;
    std::unique_ptr<std::uint8_t[]> pending_;
    std::size_t pendingLen_ = 0, pendingCap_ = 0;
    std::uint64_t pendingAt_ = 0;
    // Each finished range starts writing back while the work goes on, so
    // the fsync before naming finds little left to do.
    std::uint64_t dirtyFrom_ = 0, dirtyTo_ = 0;
    std::uint64_t writtenTo_ = 0;  // end of the last bytes handed to the file
    std::uint64_t unsynced_ = 0;   // bytes written since the last background sync was asked for
    std::shared_ptr<SyncTarget> syncTarget_;
};

// Inputs of the whole run (a command line's files): no output of any
// operation may take their names, even those of files not yet read.
void ProtectInput(const std::string& path);

// How long naming waits for another process's lock on an output folder, in
// milliseconds (30 s unless set). Tests set it short.
void SetFolderLockWait(int milliseconds);

// Whether outputs may be written unnamed where the system offers it (the
// default). Off, they always take the temporary-name road, so tests cover it.
void AllowUnnamedOutputs(bool allow);

// Patches bytes inside an existing file: one write, flushed to disk, then
// read back. When any step fails, or the file does not hold the bytes
// afterwards, the old bytes are put back and "ファイル %s に書き込めません"
// is thrown. The range must lie inside the file (else the read of the old
// bytes fails with "ファイル %s を最後まで読めませんでした", nothing written).
void PatchInPlace(File& file, std::uint64_t offset, const void* bytes, std::size_t n);

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
    // OutputFile::write; the rest of them are dropped.
    void write(OutputFile& dst, std::size_t n);

private:
    void useBuffer();
    void emptyPipe();
    std::size_t blockSize_;
    int pipe_[2] = {-1, -1};
    std::size_t pipeBytes_ = 0, page_ = 0;  // the pipe's capacity, the page size
    std::size_t inPipe_ = 0;                // the first bytes of the block read, in the pipe
    std::size_t held_ = 0;                  // all bytes of the block read; past inPipe_ in buffer_
    std::vector<std::uint8_t> buffer_;
};

// Whether another process has the file open for writing, as far as the
// system can tell without waiting: on Linux a read lease, which is refused
// while any descriptor is open for writing. nullopt where it cannot answer
// (a file of another owner, a file system without leases). Ask before
// opening the file for writing oneself: one's own descriptor counts too.
std::optional<bool> OpenForWritingElsewhere(const std::string& path);

}  // namespace velmora
