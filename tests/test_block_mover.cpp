// BlockMover copies as File::read then OutputFile::write would, whatever the
// block's alignment, the pipe's size or the path its bytes take.
#include <gtest/gtest.h>

#include <random>

#include "io/file.h"
#include "io/transfer.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

Bytes Random(std::size_t n) {
    std::mt19937 gen(7);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

// Copies the source from `from` in blocks, writing `keep` bytes of each.
Bytes Copy(const std::string& src, std::size_t block, std::uint64_t from, std::size_t keep,
           std::vector<std::size_t>* reads = nullptr) {
    TempDir dir;
    File in = File::OpenRead(src);
    OutputFile out = OutputFile::Create(dir.file("out"));
    out.write("HDR", 3);  // the output's blocks start off the page boundaries too
    in.seek(from);
    BlockMover mover(block);
    for (;;) {
        const std::size_t got = mover.read(in, block);
        if (reads) reads->push_back(got);
        if (got == 0) break;
        mover.write(out, std::min(got, keep));
    }
    out.commit();
    return ReadFile(dir.file("out"));
}

Bytes Expected(const Bytes& data, std::size_t block, std::uint64_t from, std::size_t keep) {
    Bytes want = {'H', 'D', 'R'};
    for (std::size_t at = from; at < data.size(); at += block) {
        const std::size_t n = std::min({block, data.size() - at, keep});
        want.insert(want.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    }
    return want;
}

}  // namespace

TEST(BlockMover, CopiesLikeReadAndWriteAtEveryAlignment) {
    TempDir dir;
    const Bytes data = Random(3 * 1048576 + 777);
    const std::string src = dir.write("src", data);
    // Blocks of a whole pipe, of a second of audio, and ones too big for a pipe.
    for (std::size_t block : {std::size_t{1048576}, std::size_t{192000}, std::size_t{4096}, std::size_t{20000001}}) {
        for (std::uint64_t from : {0u, 44u, 4095u, 4096u}) {
            std::vector<std::size_t> reads;
            EXPECT_EQ(Copy(src, block, from, block, &reads), Expected(data, block, from, block))
                << "block " << block << " from " << from;
            // Full blocks, then the rest, then nothing: fewer only at the end.
            for (std::size_t i = 0; i + 2 < reads.size(); ++i) EXPECT_EQ(reads[i], block);
            EXPECT_EQ(reads.back(), 0u);
        }
    }
}

TEST(BlockMover, BytesNotWrittenAreDropped) {
    TempDir dir;
    const Bytes data = Random(5 * 65536 + 3);
    const std::string src = dir.write("src", data);
    for (std::uint64_t from : {0u, 44u}) {
        for (std::size_t keep : {0u, 1u, 4095u, 4097u, 65535u}) {
            EXPECT_EQ(Copy(src, 65536, from, keep), Expected(data, 65536, from, keep))
                << "keep " << keep << " from " << from;
        }
    }
}

TEST(BlockMover, ReadsNoFurtherThanAsked) {
    TempDir dir;
    const Bytes data = Random(100000);
    File in = File::OpenRead(dir.write("src", data));
    OutputFile out = OutputFile::Create(dir.file("out"));
    BlockMover mover(65536);
    EXPECT_EQ(mover.read(in, 1000), 1000u);
    EXPECT_EQ(in.position(), 1000u);
    mover.write(out, 1000);
    EXPECT_EQ(mover.read(in, 65536), 65536u);
    mover.write(out, 65536);
    EXPECT_EQ(mover.read(in, 65536), 100000u - 66536u);
    mover.write(out, 65536);  // no more than was read
    EXPECT_EQ(out.position(), 100000u);
    out.commit();
    EXPECT_EQ(ReadFile(dir.file("out")), data);
}

// The one loop of the file layer's calls: again after EINTR and after a short
// count, to the end of the file or the first real failure.
TEST(Transfer, RetriesInterruptedAndShortCallsAndStopsAtTheEndOrAFailure) {
    constexpr ssize_t kInterrupted = -EINTR, kNoSpace = -ENOSPC;
    struct Case {
        std::size_t n;
        std::vector<ssize_t> calls;  // what each call returns; negative: fails with that errno
        std::size_t bytes;
        int error;
        std::size_t callsMade;
    };
    const std::vector<Case> cases = {
        {8, {8}, 8, 0, 1},
        {8, {kInterrupted, 3, kInterrupted, kInterrupted, 5}, 8, 0, 5},
        {8, {1, 1, 1, 5}, 8, 0, 4},
        {8, {3, 0}, 3, 0, 2},              // the end of the file
        {8, {2, kNoSpace}, 2, ENOSPC, 2},  // what moved before the failure counts
        {0, {}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::size_t made = 0;
        std::vector<std::size_t> asked;
        const Transferred t = Transfer(c.n, [&](std::size_t done, int& error) -> long long {
            asked.push_back(done);
            const ssize_t r = c.calls.at(made++);
            if (r >= 0) return r;
            error = static_cast<int>(-r);
            return -1;
        });
        EXPECT_EQ(t.bytes, c.bytes);
        EXPECT_EQ(t.error, c.error);
        EXPECT_EQ(made, c.callsMade);
        // Each call goes on from the bytes already moved.
        std::size_t done = 0;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            EXPECT_EQ(asked[i], done);
            if (c.calls[i] > 0) done += static_cast<std::size_t>(c.calls[i]);
        }
    }
}
