// The second-block walk: which blocks it visits and where the gauge and the
// message pump fall among them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops/second_blocks.h"
#include "recording_host.h"

using namespace velmora;

namespace {

std::string Tagged(char tag, std::uint64_t n) {
    std::string s(1, tag);
    s += std::to_string(n);
    return s;
}

// Every host call and every block step, in order.
struct EventHost : RecordingHost {
    void progress(int percent) override { events.push_back(Tagged('g', static_cast<std::uint64_t>(percent))); }
    void pumpMessages() override { events.push_back("p"); }
    std::vector<std::string> events;
};

struct WalkCase {
    const char* name;
    std::uint64_t seconds, remainder;
    BlockProgress gauge;
    BlockPump pump;
    bool fullGauge;
    std::uint64_t stopAt;  // the block whose read ends the walk; past the end for none
    std::vector<std::string> events;
};

TEST(SecondBlockWalk, GaugeAndPumpAroundEachBlock) {
    const std::uint64_t none = 99;
    const WalkCase cases[] = {
        {"split",
         2,
         5,
         BlockProgress::Before,
         BlockPump::Before,
         true,
         none,
         {"g0", "p", "r0", "u0", "g50", "p", "r1", "u1", "R2", "g100", "U2"}},
        {"surround", 2, 0, BlockProgress::Before, BlockPump::None, false, none, {"g0", "r0", "u0", "g50", "r1", "u1"}},
        {"normalize write",
         2,
         5,
         BlockProgress::After,
         BlockPump::Before,
         false,
         none,
         {"p", "r0", "u0", "g50", "p", "r1", "u1", "g100", "R2", "U2"}},
        {"multiplex",
         2,
         5,
         BlockProgress::BeforeCounting,
         BlockPump::After,
         false,
         none,
         {"g50", "r0", "u0", "p", "g100", "r1", "u1", "p", "R2", "U2"}},
        {"rebuild cut short", 3, 5, BlockProgress::After, BlockPump::None, false, 1, {"r0", "u0", "g33", "r1"}},
        {"remainder only", 0, 5, BlockProgress::Before, BlockPump::Before, true, none, {"R0", "g100", "U0"}},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        SecondBlockWalk walk;
        walk.seconds = c.seconds;
        walk.rate = 10;
        walk.remainder = c.remainder;
        walk.start = 44;
        walk.secondBytes = 40;
        walk.progress = c.gauge;
        walk.pump = c.pump;
        walk.fullProgressOnRemainder = c.fullGauge;
        EventHost host;
        const auto tag = [](char whole, const SecondBlock& b) {
            return Tagged(b.remainder ? static_cast<char>(whole - 32) : whole, b.index);
        };
        const bool finished = WalkSecondBlocks(
            host, walk,
            [&](const SecondBlock& b) {
                EXPECT_EQ(b.offset, 44 + b.index * 40);
                EXPECT_EQ(b.frames, b.remainder ? c.remainder : 10u);
                host.events.push_back(tag('r', b));
                return b.index != c.stopAt;
            },
            [&](const SecondBlock& b) { host.events.push_back(tag('u', b)); });
        EXPECT_EQ(finished, c.stopAt == none);
        EXPECT_EQ(host.events, c.events);
    }
}

// Pieces of at most 3 frames: the host hears exactly what it hears of whole
// seconds, and the pieces cover each block's bytes once, in order.
TEST(SecondBlockWalk, ASecondLargerThanAPieceIsWalkedInPiecesWithTheSameHostCalls) {
    const std::pair<BlockProgress, BlockPump> modes[] = {{BlockProgress::Before, BlockPump::Before},
                                                         {BlockProgress::After, BlockPump::Before},
                                                         {BlockProgress::BeforeCounting, BlockPump::After}};
    for (const auto& [gauge, pump] : modes) {
        for (const std::uint64_t remainder : {0u, 7u}) {
            SecondBlockWalk walk;
            walk.seconds = 3;
            walk.rate = 10;
            walk.remainder = remainder;
            walk.start = 44;
            walk.secondBytes = 40;
            walk.progress = gauge;
            walk.pump = pump;
            walk.fullProgressOnRemainder = true;
            const auto hostCalls = [&](std::uint64_t piece, std::vector<SecondBlock>& blocks) {
                walk.pieceFrames = piece;
                EventHost host;
                WalkSecondBlocks(host, walk, [&](const SecondBlock& b) { blocks.push_back(b); });
                return host.events;
            };
            std::vector<SecondBlock> whole, pieces;
            EXPECT_EQ(hostCalls(3, pieces), hostCalls(0, whole));
            std::uint64_t next = 44;
            std::size_t w = 0;
            std::uint64_t inBlock = 0;
            for (const SecondBlock& b : pieces) {
                EXPECT_LE(b.frames, 3u);
                EXPECT_EQ(b.offset, next);
                EXPECT_EQ(b.index, whole[w].index);
                EXPECT_EQ(b.first, inBlock);
                next += b.frames * 4;
                inBlock += b.frames;
                EXPECT_EQ(b.lastPiece, inBlock == whole[w].frames);
                if (b.lastPiece) {
                    ++w;
                    inBlock = 0;
                }
            }
            EXPECT_EQ(w, whole.size());
            EXPECT_EQ(next, 44 + 3 * 40 + remainder * 4);
        }
    }
}

}  // namespace
