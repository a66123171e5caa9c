// Guessing the sample format of bytes without a header: every combination of
// channel count, sample encoding and byte alignment is read as audio, and the
// ones under which the bytes look most like sound (each channel predictable
// from its own past and from its neighbour channel) rank first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/file.h"

namespace velmora {

enum class SampleEncoding { U8, S16, S24, S32, F32 };

struct RawSampleFormat {
    int channels = 2;
    SampleEncoding encoding = SampleEncoding::S16;

    int bytesPerSample() const;
    int frameSize() const { return channels * bytesPerSample(); }
    int bits() const { return bytesPerSample() * 8; }
    bool isFloat() const { return encoding == SampleEncoding::F32; }
    bool operator==(const RawSampleFormat&) const = default;
};

// The encoding of a width in bits (8, 16, 24, 32) or float 32-bit.
SampleEncoding EncodingOf(int bits, bool isFloat);
// "16-bit 2ch", "float 1ch": the CLI's tables and the logs.
std::string FormatLabel(const RawSampleFormat& format);

// One reading of the bytes: the frames start at `alignment` (0 … frame − 1)
// bytes past a multiple of the frame size.
struct FormatGuess {
    RawSampleFormat format;
    std::uint32_t alignment = 0;
    double score = 0;        // bits of prediction gain per sample; 0 = noise
    double formatScore = 0;  // the format's: the mean of each window's best alignment
    double confidence = 0;   // 0–1, the share of the ranking's weight
};

struct Detection {
    std::vector<FormatGuess> ranked;  // best first; empty when nothing was read
    // The best stands clearly above the next (else the caller must not guess).
    bool sure = false;
    // The best format does, but which channel comes first is open: the
    // boundaries of the audio may still settle it.
    bool formatSure = false;
};

// Channel counts and encodings tried.
inline constexpr int kDetectChannels[] = {1, 2, 4, 6, 8};
inline constexpr SampleEncoding kDetectEncodings[] = {SampleEncoding::U8, SampleEncoding::S16, SampleEncoding::S24,
                                                      SampleEncoding::S32, SampleEncoding::F32};
// Bytes read per sampled place, and how many places at most: detection costs
// a bounded read however large the file.
inline constexpr std::size_t kDetectWindow = 32 * 1024;
inline constexpr int kDetectPlaces = 8;
// A best score at least this high, this far above the next: a sure guess.
inline constexpr double kSureScore = 1.0;
inline constexpr double kSureLead = 0.25;

// How audio-like `bytes` are when read as `format` with frames at `alignment`:
// the mean over channels of log2(spread / smallest prediction error), where a
// channel is predicted from its last one or two samples, or from those and
// the same-frame change of the channel before it. Noise scores about 0; a
// float reading of bytes that are not floats in a sane range scores −1.
double AudioScore(const std::uint8_t* bytes, std::size_t n, const RawSampleFormat& format, std::uint32_t alignment);

// Every hypothesis ranked over the given windows (each a separate stretch of
// the file; silent ones are skipped): formats by their format score, each
// format's alignments by their own.
Detection RankFormats(const std::vector<std::vector<std::uint8_t>>& windows);

// A common multiple of every frame size tried.
inline constexpr std::uint64_t kFrameLcm = 288;

// Windows of kDetectWindow bytes from up to kDetectPlaces places spread over
// [from, to) of the file, each starting at a multiple of kFrameLcm bytes
// past `from`, so that alignments
// read in different windows are the same alignment in the file.
std::vector<std::vector<std::uint8_t>> SampleWindows(File& file, std::uint64_t from, std::uint64_t to);

// The best of the ranking's readings that has the given format: its
// alignment relative to `from`, as SampleWindows were taken.
std::uint32_t BestAlignment(const std::vector<std::vector<std::uint8_t>>& windows, const RawSampleFormat& format);

// Detection over a file's [from, to).
Detection DetectFormat(File& file, std::uint64_t from, std::uint64_t to);

// Moves the guess with this alignment to the top and calls it sure: the
// boundaries of the audio settled the channel order.
void SettleAlignment(Detection& detection, std::uint32_t alignment);

// Decodes one sample as a double in the encoding's own units (8-bit centred on 0).
double DecodeSample(const std::uint8_t* p, SampleEncoding encoding);

}  // namespace velmora
