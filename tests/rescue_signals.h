// Recordings for the rescue tests, made by sox at test time: speech-like,
// music-like, noise-like and quiet signals, headerless, in any channel count
// and sample format. Several channels are one signal at different levels
// and a sample or two apart, as microphones of one scene give.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "wav_builder.h"

namespace velmora::test {

enum class Signal { Speech, Music, Noise, Quiet };

inline const char* SignalName(Signal s) {
    switch (s) {
        case Signal::Speech: return "speech";
        case Signal::Music: return "music";
        case Signal::Noise: return "noise";
        default: return "quiet";
    }
}

inline bool HaveSox() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

// `encoding` as sox names it: signed, unsigned (8-bit) or floating-point.
inline Bytes SoxRaw(const TempDir& dir, Signal signal, int channels, const std::string& encoding, int bits,
                    double seconds = 3, int rate = 48000) {
    const std::string len = std::to_string(seconds);
    std::string effects;
    switch (signal) {
        case Signal::Speech: effects = "synth " + len + " sawtooth 100:170 tremolo 4 90 lowpass 2500 gain -9"; break;
        case Signal::Music:
            effects = "synth " + len + " pluck 220 pluck 277 pluck 330 pluck 440 remix - gain -4";
            break;
        case Signal::Noise: effects = "synth " + len + " pinknoise lowpass 5000 gain -12"; break;
        case Signal::Quiet: effects = "synth " + len + " sawtooth 100:170 tremolo 4 90 lowpass 2500 gain -40"; break;
    }
    if (channels > 1) {
        std::string remix = " remix", delay = " delay";
        for (int c = 1; c <= channels; ++c) {
            remix += " 1v0.";
            remix += std::to_string(9 - c % 5);
            delay += ' ';
            delay += std::to_string(c * 0.00002);
        }
        // Cut back to the length asked for: the delay pads the ends with zeros.
        effects += remix + delay + " trim 0 " + len;
    }
    const std::string path = dir.file("signal.raw");
    const std::string cmd = "sox -R -n -r " + std::to_string(rate) + " -t raw -e " + encoding + " -b " +
                            std::to_string(bits) + " '" + path + "' " + effects + " 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return {};
    Bytes b = ReadFile(path);
    std::remove(path.c_str());
    return b;
}

// Bytes that are no audio: a fixed xorshift sequence, so every run is alike.
inline Bytes Junk(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x >> 11);
    }
    return b;
}

// Recordings of the detection table: mono floats at 48 kHz, made once per
// test binary, their leading and trailing silence cut (silence tells no
// channel from another, so where the audio begins is the sound's first
// sample).
enum class Source { Speech, Plucks, Pink, Brown, Tone };
inline constexpr Source kSources[] = {Source::Speech, Source::Plucks, Source::Pink, Source::Brown, Source::Tone};

inline const char* SourceName(Source s) {
    switch (s) {
        case Source::Speech: return "speech";
        case Source::Plucks: return "plucks";
        case Source::Pink: return "pink noise";
        case Source::Brown: return "brown noise";
        default: return "tone -50 dBFS";
    }
}

inline bool HaveEspeak() { return std::system("command -v espeak-ng >/dev/null 2>&1") == 0; }

// Peak 0.5, but the tone at -50 dBFS.
inline std::vector<float> MonoSource(const TempDir& dir, Source source, double seconds = 0.6) {
    const std::string raw = dir.file("source.f32"), len = std::to_string(seconds);
    const std::string out = " -t f32 -r 48000 -c 1 '" + raw + "'";
    std::string cmd;
    switch (source) {
        case Source::Speech:
            cmd = "espeak-ng -w '" + dir.file("speech.wav") + "' 'Rescue the recording, channel by channel.' &&" +
                  " sox '" + dir.file("speech.wav") + "'" + out + " rate 48000 trim 0.1 " + len;
            break;
        case Source::Plucks: cmd = "sox -R -n" + out + " synth " + len + " pluck C3 pluck E3 pluck G3 remix -"; break;
        case Source::Pink: cmd = "sox -R -n" + out + " synth " + len + " pinknoise"; break;
        case Source::Brown: cmd = "sox -R -n" + out + " synth " + len + " brownnoise"; break;
        case Source::Tone: cmd = "sox -R -n" + out + " synth " + len + " sine 997"; break;
    }
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return {};
    const Bytes b = ReadFile(raw);
    std::vector<float> x(b.size() / 4);
    if (!x.empty()) std::memcpy(x.data(), b.data(), x.size() * 4);
    const auto loud = [](float v) { return std::fabs(v) > 1e-3f; };
    const auto first = std::find_if(x.begin(), x.end(), loud);
    const auto last = std::find_if(x.rbegin(), x.rend(), loud).base();
    x = first < last ? std::vector<float>(first, last) : std::vector<float>{};
    float peak = 0;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    const double target = source == Source::Tone ? std::pow(10.0, -50.0 / 20) : 0.5;
    for (float& v : x) v = static_cast<float>(v * target / std::max(peak, 1e-9f));
    return x;
}

// The seven ways to store a sample: 8-bit unsigned, 16-, 24- and 32-bit
// integer, 24-bit in a 32-bit container, 32- and 64-bit float.
struct Storage {
    const char* name;
    int bits;  // container
    bool isFloat;
    int significant;  // bits that carry the sample
};
inline constexpr Storage kStorages[] = {
    {"8-bit", 8, false, 8},      {"16-bit", 16, false, 16}, {"24-bit", 24, false, 24}, {"32-bit", 32, false, 32},
    {"24-in-32", 32, false, 24}, {"float", 32, true, 32},   {"float64", 64, true, 64}};

inline void StoreSample(Bytes& out, double v, const Storage& s) {
    if (s.isFloat) {
        std::uint8_t b[8];
        if (s.bits == 32) {
            const float f = static_cast<float>(v);
            std::memcpy(b, &f, 4);
        } else {
            std::memcpy(b, &v, 8);
        }
        out.insert(out.end(), b, b + s.bits / 8);
        return;
    }
    const double full = std::ldexp(1.0, s.significant - 1);
    auto q = static_cast<std::int64_t>(std::llround(std::clamp(v * full, -full, full - 1)));
    if (s.bits == 8) q += 128;
    q *= std::int64_t{1} << (s.bits - s.significant);
    for (int i = 0; i < s.bits / 8; ++i) out.push_back(static_cast<std::uint8_t>((q >> (8 * i)) & 0xFF));
}

// `channels` channels of one source, each later and softer than the one
// before (7 samples, 12 %), as microphones of one scene are.
inline Bytes Interleave(const std::vector<float>& mono, int channels, const Storage& s) {
    constexpr std::size_t kDelay = 7;
    const std::size_t lead = kDelay * static_cast<std::size_t>(channels - 1);
    Bytes out;
    for (std::size_t t = lead; t < mono.size(); ++t)
        for (int c = 0; c < channels; ++c)
            StoreSample(out, (1.0 - 0.12 * c) * mono[t - kDelay * static_cast<std::size_t>(c)], s);
    return out;
}

}  // namespace velmora::test
