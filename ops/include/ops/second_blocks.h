// The one-second block walk of the split, the pseudo-surround, the
// normalisation, the header rebuild and the multiplex, and the pieces they
// share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "ops/host.h"

#include "wav/file.h"
#include "wav/waveinfo.h"

namespace velmora {

// Refused when the header's rate, frame size or channel count is zero or
// negative: no block of such a file has a size.
inline constexpr const char* kTextBadLayout =
    "ヘッダのサンプリング周波数・ブロックサイズ・チャンネル数が不正なため処理できません";

void RequireUsableLayout(const WaveInfo& info);

// The operations on 16-bit stereo files move frames of 2 × channels bytes; a
// header whose blockAlign says otherwise counts its play time in frames the
// operation does not move, so its output could never match its header.
// Throws kTextBadLayout then.
void RequireSixteenBitFrames(const WaveInfo& info);

// The frames of the one-second blocks and the remainder together (after
// RequireUsableLayout).
inline std::uint64_t PlayFrames(const WaveInfo& info) {
    return static_cast<std::uint64_t>(info.totalSeconds()) * static_cast<std::uint64_t>(info.format.samplesPerSec) +
           static_cast<std::uint64_t>(info.playRemainderFrames);
}


// Reads n bytes at offset. A file that shrank since the analysis gives fewer:
// the missing part becomes silence, never what the buffer held before.
inline void ReadBlock(File& file, std::uint64_t offset, std::uint8_t* buf, std::size_t n) {
    std::size_t got = file.readAt(offset, buf, n);
    if (got < n) {
        for (std::size_t i = got; i < n; ++i) buf[i] = 0;
    }
}

// Progress value k × 100 / total, truncated.
inline int Percent(std::int64_t k, std::int64_t total) {
    return static_cast<int>(k * 100 / total);
}

// One block of a walk over the play time: a whole second, or the frames
// after the last one.
struct SecondBlock {
    std::uint64_t index = 0;   // the second's number; `seconds` for the remainder
    std::uint64_t offset = 0;  // walk.start + index × walk.secondBytes
    std::uint64_t frames = 0;
    bool remainder = false;
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

// The walk: each whole second, then the remainder when there is one. On a
// progress-before walk the progress comes before the pump. `read` may return false
// to end the walk at once (no progress for that block, no remainder after it);
// the walk then returns false. `use` follows `read` for the same block.
template <class Read, class Use>
bool WalkSecondBlocks(Host& host, const SecondBlockWalk& walk, Read&& read, Use&& use) {
    const auto total = static_cast<std::int64_t>(walk.seconds);
    for (std::uint64_t k = 0; k < walk.seconds; ++k) {
        const auto done = static_cast<std::int64_t>(k);
        if (walk.progress == BlockProgress::Before) host.progress(Percent(done, total));
        if (walk.progress == BlockProgress::BeforeCounting) host.progress(Percent(done + 1, total));
        if (walk.pump == BlockPump::Before) host.pumpMessages();
        const SecondBlock b{k, walk.start + k * walk.secondBytes, walk.rate, false};
        if (!detail::RunBlockStep(read, b)) return false;
        use(b);
        if (walk.progress == BlockProgress::After) host.progress(Percent(done + 1, total));
        if (walk.pump == BlockPump::After) host.pumpMessages();
    }
    if (walk.remainder == 0) return true;
    const SecondBlock b{walk.seconds, walk.start + walk.seconds * walk.secondBytes, walk.remainder, true};
    if (!detail::RunBlockStep(read, b)) return false;
    if (walk.fullProgressOnRemainder) host.progress(100);
    use(b);
    return true;
}

// The same with the whole block in one step.
template <class Step>
bool WalkSecondBlocks(Host& host, const SecondBlockWalk& walk, Step&& step) {
    return WalkSecondBlocks(host, walk, std::forward<Step>(step), [](const SecondBlock&) {});
}

}  // namespace velmora
