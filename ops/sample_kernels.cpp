#include "ops/sample_kernels.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "wav/bytes.h"

// Each loop below is written plainly so the compiler vectorises it, and is
// built three times: for AVX-512, for AVX2 and for the baseline. The first
// call picks the widest the processor and the system support, so starting
// the program costs nothing for verbs that never move samples.
#if defined(__GNUC__) && defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define VELMORA_X86_VARIANTS 1
#define VELMORA_BODY inline __attribute__((always_inline))
#define VELMORA_TARGET_AVX2 __attribute__((target("avx2")))
#define VELMORA_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))
#define VELMORA_TARGET_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#else
#define VELMORA_BODY inline
#define VELMORA_TARGET_AVX2
#define VELMORA_TARGET_AVX512
#endif

namespace velmora::kernels {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

enum class Isa { Baseline, Avx2, Avx512 };

Isa DetectIsa() {
#ifdef VELMORA_X86_VARIANTS
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return Isa::Baseline;
    const bool osxsave = (c & bit_OSXSAVE) != 0, avx = (c & bit_AVX) != 0;
    if (!osxsave || !avx) return Isa::Baseline;
    // The system must save the vector registers' upper halves too.
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    const bool ymmState = (lo & 0x6) == 0x6, zmmState = (lo & 0xE6) == 0xE6;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return Isa::Baseline;
    const unsigned avx512 = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
    if (zmmState && (b & avx512) == avx512) return Isa::Avx512;
    if (ymmState && (b & bit_AVX2) != 0) return Isa::Avx2;
#endif
    return Isa::Baseline;
}

// VELMORA_KERNELS=baseline or avx2 chooses a narrower build than the
// processor allows, for the tests of each build and for measuring them.
Isa ChosenIsa() {
    const Isa best = DetectIsa();
    const char* want = std::getenv("VELMORA_KERNELS");
    if (want == nullptr) return best;
    if (std::strcmp(want, "baseline") == 0) return Isa::Baseline;
    if (std::strcmp(want, "avx2") == 0 && best == Isa::Avx512) return Isa::Avx2;
    return best;
}

Isa CurrentIsa() {
    static const Isa isa = ChosenIsa();
    return isa;
}

// The byte permutes of the frame shuffles below come with AVX-512 VBMI; they
// are used where the AVX-512 build of the other loops is.
bool UseVbmi() {
#ifdef VELMORA_X86_VARIANTS
    static const bool vbmi = [] {
        unsigned a, b, c, d;
        return CurrentIsa() == Isa::Avx512 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & bit_AVX512VBMI) != 0;
    }();
    return vbmi;
#else
    return false;
#endif
}

// Fixed widths turn each copy into one load and one store. The stores bound
// the narrow widths, so 1- and 2-byte samples are gathered into one 8-byte
// store (the shifts give the byte order of a little-endian host).
template <std::size_t W>
VELMORA_BODY void ExtractFixed(const std::uint8_t* in, std::size_t stride, std::uint8_t* out, std::size_t frames) {
    std::size_t i = 0;
    if constexpr (kLittleEndian && (W == 1 || W == 2)) {
        using Sample = std::conditional_t<W == 1, std::uint8_t, std::uint16_t>;
        constexpr std::size_t kPerWord = 8 / W;
        for (; i + kPerWord <= frames; i += kPerWord) {
            std::uint64_t word = 0;
            for (std::size_t k = 0; k < kPerWord; ++k) {
                Sample v;
                std::memcpy(&v, in + (i + k) * stride, W);
                word |= static_cast<std::uint64_t>(v) << (8 * W * k);
            }
            std::memcpy(out + i * W, &word, 8);
        }
    }
    for (; i < frames; ++i) std::memcpy(out + i * W, in + i * stride, W);
}

template <std::size_t W>
VELMORA_BODY void PlaceFixed(const std::uint8_t* in, std::uint8_t* out, std::size_t stride, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(out + i * stride, in + i * W, W);
}

VELMORA_BODY std::int16_t LoadI16(const std::uint8_t* p) {
    if constexpr (kLittleEndian) {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else {
        return GetI16(p);
    }
}

VELMORA_BODY void StoreI16(std::uint8_t* p, std::int16_t v) {
    if constexpr (kLittleEndian)
        std::memcpy(p, &v, 2);
    else
        PutU16(p, static_cast<std::uint16_t>(v));
}

constexpr std::size_t kInFrame = 4;  // signed 16-bit left, then right

template <std::size_t OutChannels, bool Swap>
VELMORA_BODY void SpreadFrames(const std::uint8_t* in, const std::uint8_t* rearIn, std::size_t frames,
                               std::uint8_t* out) {
    constexpr std::size_t kOut = OutChannels * 2;
    for (std::size_t i = 0; i < frames; ++i) {
        std::uint32_t front, rear;
        std::memcpy(&front, in + i * kInFrame, 4);
        std::memcpy(&rear, rearIn + i * kInFrame, 4);
        // Exchanging the two 16-bit halves swaps left and right in either byte order.
        if constexpr (Swap) rear = std::rotl(rear, 16);
        std::memcpy(out + i * kOut, &front, 4);
        if constexpr (OutChannels == 6) {
            const std::uint32_t silence = 0;
            std::memcpy(out + i * kOut + 4, &silence, 4);
        }
        std::memcpy(out + i * kOut + kOut - 4, &rear, 4);
    }
}

template <std::size_t OutChannels, bool Swap>
VELMORA_BODY void Spread(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                         std::uint8_t* out) {
    const std::size_t early = delay < frames ? delay : frames;
    SpreadFrames<OutChannels, Swap>(in, lead, early, out);
    SpreadFrames<OutChannels, Swap>(in + early * kInFrame, in, frames - early, out + early * OutChannels * 2);
}

// Whole frames of C samples of W bytes built at once: each frame is written
// once, in order, instead of once per channel. The sample type gives the
// compiler whole loads and stores to shuffle.
template <std::size_t W>
using Word = std::conditional_t<
    W == 1, std::uint8_t,
    std::conditional_t<W == 2, std::uint16_t, std::conditional_t<W == 4, std::uint32_t, std::uint64_t>>>;

template <std::size_t W, std::size_t C>
VELMORA_BODY void InterleaveFixed(const std::uint8_t* const* in, std::uint8_t* out, std::size_t frames) {
    if constexpr (W == 3) {
        for (std::size_t c = 0; c < C; ++c) PlaceFixed<3>(in[c], out + c * 3, C * 3, frames);
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            Word<W> v[C];
            for (std::size_t c = 0; c < C; ++c) std::memcpy(&v[c], in[c] + i * W, W);
            std::memcpy(out + i * C * W, v, C * W);
        }
    }
}

template <std::size_t W>
VELMORA_BODY bool InterleaveWidth(const std::uint8_t* const* in, std::size_t channels, std::uint8_t* out,
                                  std::size_t frames) {
    switch (channels) {
        case 1: InterleaveFixed<W, 1>(in, out, frames); return true;
        case 2: InterleaveFixed<W, 2>(in, out, frames); return true;
        case 3: InterleaveFixed<W, 3>(in, out, frames); return true;
        case 4: InterleaveFixed<W, 4>(in, out, frames); return true;
        case 5: InterleaveFixed<W, 5>(in, out, frames); return true;
        case 6: InterleaveFixed<W, 6>(in, out, frames); return true;
        default: return false;
    }
}

VELMORA_BODY void ExtractChannelBody(const std::uint8_t* in, std::size_t stride, std::size_t width, std::uint8_t* out,
                                     std::size_t frames) {
    switch (width) {
        case 1: ExtractFixed<1>(in, stride, out, frames); return;
        case 2: ExtractFixed<2>(in, stride, out, frames); return;
        case 3: ExtractFixed<3>(in, stride, out, frames); return;
        case 4: ExtractFixed<4>(in, stride, out, frames); return;
        default:
            for (std::size_t i = 0; i < frames; ++i) std::memcpy(out + i * width, in + i * stride, width);
    }
}

VELMORA_BODY void PlaceChannelBody(const std::uint8_t* in, std::size_t width, std::uint8_t* out, std::size_t stride,
                                   std::size_t frames) {
    switch (width) {
        case 1: PlaceFixed<1>(in, out, stride, frames); return;
        case 2: PlaceFixed<2>(in, out, stride, frames); return;
        case 3: PlaceFixed<3>(in, out, stride, frames); return;
        case 4: PlaceFixed<4>(in, out, stride, frames); return;
        case 8: PlaceFixed<8>(in, out, stride, frames); return;  // 64-bit float
        default: return;
    }
}

VELMORA_BODY void DeinterleaveScalarBody(const std::uint8_t* in, std::size_t channels, std::size_t width,
                                         std::uint8_t* const* out, std::size_t frames) {
    for (std::size_t c = 0; c < channels; ++c)
        ExtractChannelBody(in + c * width, channels * width, width, out[c], frames);
}

VELMORA_BODY void InterleaveScalarBody(const std::uint8_t* const* in, std::size_t channels, std::size_t width,
                                       std::uint8_t* out, std::size_t frames) {
    bool done = false;
    switch (width) {
        case 1: done = InterleaveWidth<1>(in, channels, out, frames); break;
        case 2: done = InterleaveWidth<2>(in, channels, out, frames); break;
        case 3: done = InterleaveWidth<3>(in, channels, out, frames); break;
        case 4: done = InterleaveWidth<4>(in, channels, out, frames); break;
        case 8: done = InterleaveWidth<8>(in, channels, out, frames); break;
        default: break;
    }
    if (!done)
        for (std::size_t c = 0; c < channels; ++c)
            PlaceChannelBody(in[c], width, out + c * width, channels * width, frames);
}

VELMORA_BODY void SpreadSurroundBody(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames,
                                     std::size_t delay, std::uint8_t* out, int outChannels, bool swap) {
    if (outChannels == 4) {
        if (swap)
            Spread<4, true>(in, lead, frames, delay, out);
        else
            Spread<4, false>(in, lead, frames, delay, out);
    } else {
        if (swap)
            Spread<6, true>(in, lead, frames, delay, out);
        else
            Spread<6, false>(in, lead, frames, delay, out);
    }
}

VELMORA_BODY int Peak16Body(const std::uint8_t* p, std::size_t samples) {
    int peak = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        int v = LoadI16(p + 2 * i);
        v = v < 0 ? -v : v;
        v = v > 32767 ? 32767 : v;
        peak = peak > v ? peak : v;
    }
    return peak;
}

VELMORA_BODY void Scale16Body(std::uint8_t* p, std::size_t samples, float gain) {
    const double g = gain;
    if (g >= -65535.0 && g <= 65535.0) {
        // |x × g| < 2^31: the truncation to 32 bits is defined, and the clamp
        // in integers vectorises best.
        for (std::size_t i = 0; i < samples; ++i) {
            auto v = static_cast<std::int32_t>(LoadI16(p + 2 * i) * g);
            v = v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
            StoreI16(p + 2 * i, static_cast<std::int16_t>(v));
        }
        return;
    }
    // Larger gains clamp before truncating; the bounds are whole, so the
    // integers are the same.
    for (std::size_t i = 0; i < samples; ++i) {
        double v = LoadI16(p + 2 * i) * g;
        v = v < -32768.0 ? -32768.0 : (v > 32767.0 ? 32767.0 : v);
        StoreI16(p + 2 * i, static_cast<std::int16_t>(static_cast<std::int32_t>(v)));
    }
}


#ifdef VELMORA_X86_VARIANTS
// Frame shuffles 64 frames at a time with two-register byte permutes. Every
// 64-byte output register is put together from the pairs of input registers
// its bytes come from; the byte choices depend only on the channel count and
// the sample width, so they are worked out once per call.
constexpr std::size_t kBlockFrames = 64;
constexpr std::size_t kMaxShuffleChannels = 8, kMaxShuffleWidth = 4, kMaxPairs = 6;

struct PermutePart {
    std::size_t reg = 0;  // the first of the pair, counted in registers from the base
    __mmask64 lanes = 0;  // the output bytes it gives
    alignas(64) std::uint8_t index[64];
};

// Deinterleave: output register w of channel c takes its bytes from the
// block's input registers.
VELMORA_TARGET_VBMI bool DeinterleaveVbmi(const std::uint8_t* in, std::size_t channels, std::size_t width,
                                          std::uint8_t* const* out, std::size_t frames) {
    if (channels < 2 || channels > kMaxShuffleChannels || width < 1 || width > kMaxShuffleWidth) return false;
    const std::size_t frameBytes = channels * width;
    static thread_local PermutePart parts[kMaxShuffleChannels][kMaxShuffleWidth][kMaxPairs];
    std::size_t count[kMaxShuffleChannels][kMaxShuffleWidth] = {};
    std::size_t reach = 0;  // bytes past the block's start the loads touch
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t w = 0; w < width; ++w) {
            const std::size_t first = (64 * w / width) * frameBytes + c * width + (64 * w) % width;
            const std::size_t firstReg = first / 64;
            for (std::size_t j = 0; j < 64; ++j) {
                const std::size_t o = 64 * w + j;
                const std::size_t src = (o / width) * frameBytes + c * width + o % width;
                const std::size_t p = (src / 64 - firstReg) / 2;
                if (p >= kMaxPairs) return false;
                PermutePart& part = parts[c][w][p];
                if (p >= count[c][w]) {
                    for (std::size_t q = count[c][w]; q <= p; ++q) {
                        parts[c][w][q].reg = firstReg + 2 * q;
                        parts[c][w][q].lanes = 0;
                    }
                    count[c][w] = p + 1;
                }
                part.index[j] = static_cast<std::uint8_t>(src - 64 * part.reg);
                part.lanes |= __mmask64{1} << j;
                reach = std::max(reach, 64 * (part.reg + 2));
            }
        }
    const std::size_t total = frames * frameBytes;
    std::size_t i = 0;
    for (; i + kBlockFrames <= frames && i * frameBytes + reach <= total; i += kBlockFrames) {
        const std::uint8_t* base = in + i * frameBytes;
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t w = 0; w < width; ++w) {
                __m512i r = _mm512_setzero_si512();
                for (std::size_t p = 0; p < count[c][w]; ++p) {
                    const PermutePart& part = parts[c][w][p];
                    const __m512i a = _mm512_loadu_si512(base + 64 * part.reg);
                    const __m512i b = _mm512_loadu_si512(base + 64 * part.reg + 64);
                    const __m512i t = _mm512_permutex2var_epi8(a, _mm512_load_si512(part.index), b);
                    r = _mm512_mask_mov_epi8(r, part.lanes, t);
                }
                _mm512_storeu_si512(out[c] + i * width + 64 * w, r);
            }
    }
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t k = i; k < frames; ++k)
            std::memcpy(out[c] + k * width, in + k * frameBytes + c * width, width);
    return true;
}

// Interleave: output register v of the block takes, from every stream, the
// 64 bytes that start at the first frame it holds; streams go in pairs.
VELMORA_TARGET_VBMI bool InterleaveVbmi(const std::uint8_t* const* in, std::size_t channels, std::size_t width,
                                        std::uint8_t* out, std::size_t frames) {
    if (channels < 2 || channels > kMaxShuffleChannels || width < 1 || width > kMaxShuffleWidth) return false;
    const std::size_t frameBytes = channels * width;
    constexpr std::size_t kStreamPairs = kMaxShuffleChannels / 2;
    static thread_local PermutePart parts[kMaxShuffleChannels * kMaxShuffleWidth][kStreamPairs];
    std::size_t start[kMaxShuffleChannels * kMaxShuffleWidth];  // stream byte each load of register v starts at
    std::size_t reach = 0;
    const std::size_t pairs = (channels + 1) / 2;
    for (std::size_t v = 0; v < frameBytes; ++v) {
        start[v] = (64 * v / frameBytes) * width;
        for (std::size_t p = 0; p < pairs; ++p) parts[v][p].lanes = 0;
        for (std::size_t j = 0; j < 64; ++j) {
            const std::size_t o = 64 * v + j;
            const std::size_t c = (o % frameBytes) / width;
            const std::size_t rel = (o / frameBytes) * width + o % width - start[v];
            if (rel >= 64) return false;
            PermutePart& part = parts[v][c / 2];
            part.index[j] = static_cast<std::uint8_t>(rel + (c % 2) * 64);
            part.lanes |= __mmask64{1} << j;
        }
        reach = std::max(reach, start[v] + 64);
    }
    const std::size_t streamBytes = frames * width;
    std::size_t i = 0;
    for (; i + kBlockFrames <= frames && i * width + reach <= streamBytes; i += kBlockFrames) {
        for (std::size_t v = 0; v < frameBytes; ++v) {
            __m512i r = _mm512_setzero_si512();
            const std::size_t at = i * width + start[v];
            for (std::size_t p = 0; p < pairs; ++p) {
                const __m512i a = _mm512_loadu_si512(in[2 * p] + at);
                const __m512i b = 2 * p + 1 < channels ? _mm512_loadu_si512(in[2 * p + 1] + at) : a;
                const __m512i t = _mm512_permutex2var_epi8(a, _mm512_load_si512(parts[v][p].index), b);
                r = _mm512_mask_mov_epi8(r, parts[v][p].lanes, t);
            }
            _mm512_storeu_si512(out + i * frameBytes + 64 * v, r);
        }
    }
    for (std::size_t k = i; k < frames; ++k)
        for (std::size_t c = 0; c < channels; ++c)
            std::memcpy(out + k * frameBytes + c * width, in[c] + k * width, width);
    return true;
}
#endif

}  // namespace

// The three builds of each loop and the entry point that picks one.
#define VELMORA_KERNEL(Ret, Name, Params, Args) \
    namespace { \
    Ret Name##Baseline Params { return Name##Body Args; } \
    VELMORA_TARGET_AVX2 Ret Name##Avx2 Params { return Name##Body Args; } \
    VELMORA_TARGET_AVX512 Ret Name##Avx512 Params { return Name##Body Args; } \
    } \
    Ret Name Params { \
        switch (CurrentIsa()) { \
            case Isa::Avx512: return Name##Avx512 Args; \
            case Isa::Avx2: return Name##Avx2 Args; \
            default: return Name##Baseline Args; \
        } \
    }

VELMORA_KERNEL(void, ExtractChannel,
               (const std::uint8_t* in, std::size_t stride, std::size_t width, std::uint8_t* out, std::size_t frames),
               (in, stride, width, out, frames))
VELMORA_KERNEL(void, PlaceChannel,
               (const std::uint8_t* in, std::size_t width, std::uint8_t* out, std::size_t stride, std::size_t frames),
               (in, width, out, stride, frames))
VELMORA_KERNEL(void, DeinterleaveScalar,
               (const std::uint8_t* in, std::size_t channels, std::size_t width, std::uint8_t* const* out,
                std::size_t frames),
               (in, channels, width, out, frames))
VELMORA_KERNEL(void, InterleaveScalar,
               (const std::uint8_t* const* in, std::size_t channels, std::size_t width, std::uint8_t* out,
                std::size_t frames),
               (in, channels, width, out, frames))
VELMORA_KERNEL(void, SpreadSurround,
               (const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                std::uint8_t* out, int outChannels, bool swap),
               (in, lead, frames, delay, out, outChannels, swap))
VELMORA_KERNEL(int, Peak16, (const std::uint8_t* p, std::size_t samples), (p, samples))
VELMORA_KERNEL(void, Scale16, (std::uint8_t * p, std::size_t samples, float gain), (p, samples, gain))

void Deinterleave(const std::uint8_t* in, std::size_t channels, std::size_t width, std::uint8_t* const* out,
                  std::size_t frames) {
#ifdef VELMORA_X86_VARIANTS
    if (UseVbmi() && DeinterleaveVbmi(in, channels, width, out, frames)) return;
#endif
    DeinterleaveScalar(in, channels, width, out, frames);
}

void Interleave(const std::uint8_t* const* in, std::size_t channels, std::size_t width, std::uint8_t* out,
                std::size_t frames) {
#ifdef VELMORA_X86_VARIANTS
    if (UseVbmi() && InterleaveVbmi(in, channels, width, out, frames)) return;
#endif
    InterleaveScalar(in, channels, width, out, frames);
}

}  // namespace velmora::kernels
