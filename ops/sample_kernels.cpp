#include "sample_kernels.h"

#include <bit>
#include <cstring>

#include "wav/bytes.h"

// Each hot loop is compiled three times, for AVX-512, AVX2 and the baseline,
// and the loader picks the one the processor runs (GNU indirect functions).
// The loops are written plainly so the compiler vectorises every version.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__)
#define VELMORA_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define VELMORA_VECTOR_CLONES
#endif

namespace velmora::kernels {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Fixed widths turn each copy into one load and one store.
template <std::size_t W>
inline void ExtractFixed(const std::uint8_t* in, std::size_t stride, std::uint8_t* out, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(out + i * W, in + i * stride, W);
}

template <std::size_t W>
inline void PlaceFixed(const std::uint8_t* in, std::uint8_t* out, std::size_t stride, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(out + i * stride, in + i * W, W);
}

inline std::int16_t LoadI16(const std::uint8_t* p) {
    if constexpr (kLittleEndian) {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else {
        return GetI16(p);
    }
}

inline void StoreI16(std::uint8_t* p, std::int16_t v) {
    if constexpr (kLittleEndian)
        std::memcpy(p, &v, 2);
    else
        PutU16(p, static_cast<std::uint16_t>(v));
}

constexpr std::size_t kInFrame = 4;  // signed 16-bit left, then right

template <std::size_t OutChannels, bool Swap>
inline void SpreadFrames(const std::uint8_t* in, const std::uint8_t* rearIn, std::size_t frames,
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
inline void Spread(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                   std::uint8_t* out) {
    const std::size_t early = delay < frames ? delay : frames;
    SpreadFrames<OutChannels, Swap>(in, lead, early, out);
    SpreadFrames<OutChannels, Swap>(in + early * kInFrame, in, frames - early, out + early * OutChannels * 2);
}

}  // namespace

VELMORA_VECTOR_CLONES
void ExtractChannel(const std::uint8_t* in, std::size_t stride, std::size_t width, std::uint8_t* out,
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

VELMORA_VECTOR_CLONES
void PlaceChannel(const std::uint8_t* in, std::size_t width, std::uint8_t* out, std::size_t stride,
                  std::size_t frames) {
    switch (width) {
        case 1: PlaceFixed<1>(in, out, stride, frames); return;
        case 2: PlaceFixed<2>(in, out, stride, frames); return;
        case 3: PlaceFixed<3>(in, out, stride, frames); return;
        case 4: PlaceFixed<4>(in, out, stride, frames); return;
        default: return;
    }
}

VELMORA_VECTOR_CLONES
void SpreadSurround(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                    std::uint8_t* out, int outChannels, bool swap) {
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

VELMORA_VECTOR_CLONES
int Peak16(const std::uint8_t* p, std::size_t samples) {
    int peak = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        int v = LoadI16(p + 2 * i);
        v = v < 0 ? -v : v;
        v = v > 32767 ? 32767 : v;
        peak = peak > v ? peak : v;
    }
    return peak;
}

VELMORA_VECTOR_CLONES
void Scale16(std::uint8_t* p, std::size_t samples, float gain) {
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

}  // namespace velmora::kernels
