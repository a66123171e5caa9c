// Recordings for the rescue tests, made by sox at test time: speech-like,
// music-like, noise-like and quiet signals, headerless, in any channel count
// and sample format. Several channels are one signal at different levels
// and a sample or two apart, as microphones of one scene give.
#pragma once

#include <cstdlib>
#include <string>

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

}  // namespace velmora::test
