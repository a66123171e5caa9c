#include "ops/wide_samples.h"

#include <cmath>
#include <cstring>

namespace velmora::wide {

namespace {

std::int64_t LoadInt(const std::uint8_t* p, int bytes) {
    std::uint32_t u = 0;
    for (int k = 0; k < bytes; ++k) u |= static_cast<std::uint32_t>(p[k]) << (8 * k);
    const int shift = 32 - 8 * bytes;  // sign extension from the container's top bit
    return static_cast<std::int32_t>(u << shift) >> shift;
}

void StoreInt(std::uint8_t* p, int bytes, std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int k = 0; k < bytes; ++k) p[k] = static_cast<std::uint8_t>(u >> (8 * k));
}

double LoadFloat(const std::uint8_t* p, int bytes) {
    std::uint64_t u = 0;
    for (int k = 0; k < bytes; ++k) u |= static_cast<std::uint64_t>(p[k]) << (8 * k);
    if (bytes == 4) {
        float v;
        const auto u32 = static_cast<std::uint32_t>(u);
        std::memcpy(&v, &u32, 4);
        return v;
    }
    double v;
    std::memcpy(&v, &u, 8);
    return v;
}

void StoreFloat(std::uint8_t* p, int bytes, double v) {
    std::uint64_t u;
    if (bytes == 4) {
        const float f = static_cast<float>(v);
        std::uint32_t u32;
        std::memcpy(&u32, &f, 4);
        u = u32;
    } else {
        std::memcpy(&u, &v, 8);
    }
    for (int k = 0; k < bytes; ++k) p[k] = static_cast<std::uint8_t>(u >> (8 * k));
}

}  // namespace

double FullScale(const SampleFormat& f) { return std::ldexp(1.0, 8 * f.bytes - 1) - 1.0; }

double Peak(const std::uint8_t* p, std::size_t samples, const SampleFormat& f) {
    double peak = 0;
    const std::size_t w = static_cast<std::size_t>(f.bytes);
    if (f.isFloat()) {
        for (std::size_t i = 0; i < samples; ++i) {
            const double v = std::fabs(LoadFloat(p + i * w, f.bytes));
            if (std::isfinite(v) && v > peak) peak = v;
        }
        return peak;
    }
    const double top = FullScale(f);
    for (std::size_t i = 0; i < samples; ++i) {
        double v = std::fabs(static_cast<double>(LoadInt(p + i * w, f.bytes)));
        if (v > top) v = top;
        if (v > peak) peak = v;
    }
    return peak;
}

void Scale(std::uint8_t* p, std::size_t samples, const SampleFormat& f, double peak) {
    const std::size_t w = static_cast<std::size_t>(f.bytes);
    if (f.isFloat()) {
        for (std::size_t i = 0; i < samples; ++i) StoreFloat(p + i * w, f.bytes, LoadFloat(p + i * w, f.bytes) / peak);
        return;
    }
    const double top = FullScale(f);
    const double gain = top / peak;
    for (std::size_t i = 0; i < samples; ++i) {
        double v = std::trunc(static_cast<double>(LoadInt(p + i * w, f.bytes)) * gain);
        v = v < -top - 1 ? -top - 1 : (v > top ? top : v);
        StoreInt(p + i * w, f.bytes, static_cast<std::int64_t>(v));
    }
}

void ScaleBy(std::uint8_t* p, std::size_t samples, const SampleFormat& f, double gain) {
    const std::size_t w = static_cast<std::size_t>(f.bytes);
    if (f.isFloat()) {
        for (std::size_t i = 0; i < samples; ++i) StoreFloat(p + i * w, f.bytes, LoadFloat(p + i * w, f.bytes) * gain);
        return;
    }
    const double top = FullScale(f);
    for (std::size_t i = 0; i < samples; ++i) {
        double v = std::nearbyint(static_cast<double>(LoadInt(p + i * w, f.bytes)) * gain);
        v = v < -top - 1 ? -top - 1 : (v > top ? top : v);
        StoreInt(p + i * w, f.bytes, static_cast<std::int64_t>(v));
    }
}

void SpreadSurround(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                    std::uint8_t* out, int outChannels, bool swap, std::size_t bytes) {
    const std::size_t inFrame = 2 * bytes;
    const std::size_t outFrame = static_cast<std::size_t>(outChannels) * bytes;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* front = in + i * inFrame;
        const std::uint8_t* rear = i < delay ? lead + i * inFrame : in + (i - delay) * inFrame;
        std::uint8_t* o = out + i * outFrame;
        std::memcpy(o, front, inFrame);
        if (outChannels == 6) std::memset(o + inFrame, 0, inFrame);
        std::uint8_t* r = o + outFrame - inFrame;
        std::memcpy(r, rear + (swap ? bytes : 0), bytes);
        std::memcpy(r + bytes, rear + (swap ? 0 : bytes), bytes);
    }
}

}  // namespace velmora::wide
