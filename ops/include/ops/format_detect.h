// Guessing the sample format of bytes without a header: every combination of
// channel count, sample encoding and byte phase is read as audio, and the
// ones under which the bytes look most like sound (each channel predictable
// from its own past and from its neighbour channel, the upper halves of wide
// samples no sound of their own) rank first. Which channel comes first is
// left to where the audio begins and ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/file.h"

namespace velmora {

enum class SampleEncoding { U8, S16, S24, S32, F32, F64 };

struct RawSampleFormat {
    int channels = 2;
    SampleEncoding encoding = SampleEncoding::S16;

    int bytesPerSample() const;
    int frameSize() const { return channels * bytesPerSample(); }
    int bits() const { return bytesPerSample() * 8; }
    bool isFloat() const { return encoding == SampleEncoding::F32 || encoding == SampleEncoding::F64; }
    bool operator==(const RawSampleFormat&) const = default;
};

// The encoding of a width in bits (8, 16, 24, 32), or of a float (32 or 64 bits).
SampleEncoding EncodingOf(int bits, bool isFloat);
// "16-bit 2ch", "float 1ch", "float64 1ch": the CLI's tables and the logs.
std::string FormatLabel(const RawSampleFormat& format);

// One reading of the bytes: the frames start at `alignment` (0 … frame − 1)
// bytes past a multiple of the frame size. Readings whose alignments differ
// by whole samples are one guess until the frame start is settled.
struct FormatGuess {
    RawSampleFormat format;
    std::uint32_t alignment = 0;
    double score = 0;        // bits of prediction gain per sample; 0 = noise
    double formatScore = 0;  // the format's: the mean of each window's best phase
    double confidence = 0;   // 0–1, the share of the ranking's weight
};

struct Detection {
    std::vector<FormatGuess> ranked;  // best first; empty when nothing was read
    // The best stands clearly above the next and its frame start is settled
    // (else the caller must not guess).
    bool sure = false;
    // The best format and sample phase do, but which channel comes first is
    // open: the boundaries of the audio may still settle it.
    bool formatSure = false;
    // No reading sounds like audio: text, random or compressed bytes.
    bool notAudio = false;
};

// Channel counts and encodings tried.
inline constexpr int kDetectChannels[] = {1, 2, 3, 4, 6, 8};
inline constexpr SampleEncoding kDetectEncodings[] = {SampleEncoding::U8,  SampleEncoding::S16, SampleEncoding::S24,
                                                      SampleEncoding::S32, SampleEncoding::F32, SampleEncoding::F64};
// Bytes read per sampled place, and how many places at most: detection costs
// a bounded read however large the file.
inline constexpr std::size_t kDetectWindow = 32 * 1024;
inline constexpr int kDetectPlaces = 8;
// A best score at least this high, this far above the next: a sure guess.
inline constexpr double kSureScore = 1.0;
inline constexpr double kSureLead = 0.25;
// The lead over the same samples read with another channel count.
inline constexpr double kSureChannelLead = 0.15;
// A best score below this: no reading sounds like audio at all (random
// bytes and text score about 0 or below; noise at 8 bits may too).
inline constexpr double kAudioFloor = kSureScore;

// How audio-like `bytes` are when read as `format` with frames at `alignment`:
// the mean over channels of log2(spread / smallest prediction error), where a
// channel is predicted from its last one or two samples, or from those and
// the change of the channel before it. Noise scores about 0; a float reading
// of bytes that are not floats in a sane range scores −1. The score does not
// depend on which channel comes first: alignments a whole sample apart score
// alike.
double AudioScore(const std::uint8_t* bytes, std::size_t n, const RawSampleFormat& format, std::uint32_t alignment);

// Every hypothesis ranked over the given windows (each a separate stretch of
// the file; silent ones are skipped): formats by their format score, each
// format's sample phases by their own; each phase is listed once, at the
// alignment of its first channel, and none is sure of its frame start.
Detection RankFormats(const std::vector<std::vector<std::uint8_t>>& windows);

// A common multiple of every frame size tried (up to 8 channels of 8 bytes,
// and 3 channels of 3).
inline constexpr std::uint64_t kFrameLcm = 576;

// Windows of kDetectWindow bytes from up to kDetectPlaces places spread over
// [from, to) of the file, each starting at a multiple of kFrameLcm bytes
// past `from`, so that alignments
// read in different windows are the same alignment in the file.
std::vector<std::vector<std::uint8_t>> SampleWindows(File& file, std::uint64_t from, std::uint64_t to);

// The best sample phase of the given format (0 … bytes per sample − 1),
// relative to `from`, as SampleWindows were taken; which channel comes
// first is for the caller to settle.
std::uint32_t BestAlignment(const std::vector<std::vector<std::uint8_t>>& windows, const RawSampleFormat& format);

// The ranking over a file's [from, to); the frame start is left open.
Detection DetectFormat(File& file, std::uint64_t from, std::uint64_t to);

// Gives the best guess this alignment (a whole number of samples from its
// own) and calls it sure: the boundaries of the audio, or a header, settled
// the channel order.
void SettleAlignment(Detection& detection, std::uint32_t alignment);

// Decodes one sample as a double in the encoding's own units (8-bit centred on 0).
double DecodeSample(const std::uint8_t* p, SampleEncoding encoding);

}  // namespace velmora
