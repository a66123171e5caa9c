// The one-second block walk of the split, the pseudo-surround, the
// normalisation, the header rebuild and the multiplex, and the pieces they
// share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>
#include <utility>

#include "ops/host.h"

#include "io/file.h"
#include "wav/waveinfo.h"

namespace velmora {

// Refused when the header's rate, frame size or channel count is zero or
// negative: no block of such a file has a size.
inline constexpr const char* kTextBadLayout =
    "ヘッダのサンプリング周波数・ブロックサイズ・チャンネル数が不正なため処理できません";

void RequireUsableLayout(const WaveInfo& info);

// The 16-bit loops of the operations (and the header rebuild, which takes
// 16-bit stereo alone) move frames of 2 × channels bytes; a header whose
// blockAlign says otherwise counts its play time in frames the operation
// does not move, so its output could never match its header. Throws
// kTextBadLayout then.
void RequireSixteenBitFrames(const WaveInfo& info);

// The frames of the one-second blocks and the remainder together (after
// RequireUsableLayout).
inline std::uint64_t PlayFrames(const WaveInfo& info) {
    return static_cast<std::uint64_t>(info.totalSeconds()) * static_cast<std::uint64_t>(info.format.samplesPerSec) +
           static_cast<std::uint64_t>(info.playRemainderFrames);
}


// The most bytes a block of the walk holds: a "second" larger than this (an
// absurd rate) is walked in pieces, so memory follows bytes, not the rate.
inline constexpr std::size_t kMaxBlockBytes = std::size_t{4} << 20;

// What the outputs of one operation gather before each write, together:
// MiB-sized writes, and memory bounded however many outputs there are. More
// than this costs more than it saves: the kernel then copies the gathered
// bytes from memory the caches no longer hold (split, six outputs: 12 MiB
// in all took 20 % more CPU than 3 or 6 MiB).
inline constexpr std::size_t kGatherBudget = std::size_t{8} << 20;
inline std::size_t GatherPerOutput(std::size_t outputs) {
    return std::clamp<std::size_t>(kGatherBudget / std::max<std::size_t>(outputs, 1), std::size_t{256} << 10,
                                   OutputFile::kDefaultGather);
}

// Frames of a piece for frames of frameBytes (at least one).
inline std::uint64_t PieceFrames(std::size_t frameBytes) {
    return frameBytes == 0 || frameBytes >= kMaxBlockBytes ? 1 : kMaxBlockBytes / frameBytes;
}

// Reads the analysed source for a walk: exactly the bytes asked for, or
// TextSourceChanged (the file lost them since the analysis). Requests too
// small to be worth a call of their own (a tiny rate's seconds) are served
// from one larger read ahead.
class SourceReader {
public:
    explicit SourceReader(File& file) : file_(file) {}
    void read(std::uint64_t offset, std::uint8_t* buf, std::size_t n);
    File& file() { return file_; }

private:
    static constexpr std::size_t kSmall = 64 * 1024;
    static constexpr std::size_t kAhead = 512 * 1024;
    File& file_;
    std::vector<std::uint8_t> ahead_;
    std::uint64_t aheadAt_ = 0;
};

// Progress value k × 100 / total, truncated.
inline int Percent(std::int64_t k, std::int64_t total) { return static_cast<int>(k * 100 / total); }

// One block of a walk over the play time: a whole second, or the frames
// after the last one.
struct SecondBlock {
    std::uint64_t index = 0;   // the second's number; `seconds` for the remainder
    std::uint64_t offset = 0;  // walk.start + index × walk.secondBytes, + the piece's start
    std::uint64_t frames = 0;
    bool remainder = false;
    std::uint64_t first = 0;  // the piece's first frame within its second
    bool lastPiece = true;    // the second (or the remainder) ends with this piece
};

// Where the host hears of a whole second. The remainder gets neither, except
// the full progress where `fullProgressOnRemainder` asks for it.
enum class BlockProgress {
    None,
    Before,          // k × 100 / seconds, before second k
    BeforeCounting,  // (k + 1) × 100 / seconds, before second k
    After,           // (k + 1) × 100 / seconds, once second k is done
};
enum class BlockPump { None, Before, After };

struct SecondBlockWalk {
    std::uint64_t seconds = 0;
    std::uint64_t rate = 0;       // frames of a whole second
    std::uint64_t remainder = 0;  // frames after the last whole second
    std::uint64_t start = 0;
    std::uint64_t secondBytes = 0;
    BlockProgress progress = BlockProgress::None;
    BlockPump pump = BlockPump::None;
    // 100 on the progress between the remainder's read and its use.
    bool fullProgressOnRemainder = false;
    // Frames of the largest block handed out (PieceFrames); 0 for whole
    // seconds. The host hears of a second once, however many pieces it has.
    std::uint64_t pieceFrames = 0;
};

// The walk over an analysed file's play time (after RequireUsableLayout),
// with neither progress nor pump.
inline SecondBlockWalk PlayTimeWalk(const WaveInfo& info, std::uint64_t start, std::uint64_t secondBytes) {
    SecondBlockWalk walk;
    walk.seconds = static_cast<std::uint64_t>(info.totalSeconds());
    walk.rate = static_cast<std::uint64_t>(info.format.samplesPerSec);
    walk.remainder = static_cast<std::uint64_t>(info.playRemainderFrames);
    walk.start = start;
    walk.secondBytes = secondBytes;
    return walk;
}

namespace detail {
template <class F>
bool RunBlockStep(F& step, const SecondBlock& b) {
    if constexpr (std::is_same_v<decltype(step(b)), bool>) {
        return step(b);
    } else {
        step(b);
        return true;
    }
}
}  // namespace detail

// The walk: each whole second, then the remainder when there is one, each in
// pieces of at most walk.pieceFrames frames. On a progress-before walk the
// progress comes before the pump. `read` may return false to end the walk at
// once (no progress for that second, no remainder after it); the walk then
// returns false. `use` follows `read` for the same piece.
template <class Read, class Use>
bool WalkSecondBlocks(Host& host, const SecondBlockWalk& walk, Read&& read, Use&& use) {
    const auto total = static_cast<std::int64_t>(walk.seconds);
    const std::uint64_t frameBytes = walk.rate > 0 ? walk.secondBytes / walk.rate : 0;
    // The pieces of one block; `between` runs after the first piece's read.
    const auto pieces = [&](std::uint64_t index, std::uint64_t frames, bool remainder, auto&& between) {
        const std::uint64_t piece = walk.pieceFrames > 0 ? walk.pieceFrames : frames;
        const std::uint64_t base = walk.start + index * walk.secondBytes;
        std::uint64_t first = 0;
        do {
            const std::uint64_t n = std::min(piece, frames - first);
            const SecondBlock b{index, base + first * frameBytes, n, remainder, first, first + n >= frames};
            if (!detail::RunBlockStep(read, b)) return false;
            if (first == 0) between();
            use(b);
            first += n;
        } while (first < frames);
        return true;
    };
    for (std::uint64_t k = 0; k < walk.seconds; ++k) {
        const auto done = static_cast<std::int64_t>(k);
        if (walk.progress == BlockProgress::Before) host.progress(Percent(done, total));
        if (walk.progress == BlockProgress::BeforeCounting) host.progress(Percent(done + 1, total));
        if (walk.pump == BlockPump::Before) host.pumpMessages();
        if (!pieces(k, walk.rate, false, [] {})) return false;
        if (walk.progress == BlockProgress::After) host.progress(Percent(done + 1, total));
        if (walk.pump == BlockPump::After) host.pumpMessages();
    }
    if (walk.remainder == 0) return true;
    return pieces(walk.seconds, walk.remainder, true, [&] {
        if (walk.fullProgressOnRemainder) host.progress(100);
    });
}

// The same with the whole block in one step.
template <class Step>
bool WalkSecondBlocks(Host& host, const SecondBlockWalk& walk, Step&& step) {
    return WalkSecondBlocks(host, walk, std::forward<Step>(step), [](const SecondBlock&) {});
}

}  // namespace velmora
