// Rescue of recordings whose header is gone: zeroed by a recorder that lost
// power, overwritten, or never there (audio carved out of a card image). The
// samples are found in the broken file, given the format of a healthy file
// from the same recorder or one guessed from the bytes, and copied behind a
// new header into a new file; the broken file is only read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/format_detect.h"
#include "ops/host.h"

namespace velmora {

inline constexpr const char* kTextFormatNotSure =
    "サンプル形式を判定できません。推測はしません(形式を指定してください)";
inline constexpr const char* kTextNoAudioFound = "音声らしいデータが見つかりません";
inline constexpr const char* kTextRescueLayout = "このチャンネル数とbit解像度の組み合わせには対応していません";
// "見本のファイル %s の形式を読めません"
std::string TextLikeUnreadable(const std::string& path);

inline constexpr std::int32_t kRescueDefaultRate = 48000;

enum class RateSource { Like, Header, Given, Default };

struct RescueOptions {
    std::string source;      // the broken file; empty does nothing
    std::string like;        // a healthy recording; empty: format given or detected
    bool ownHeader = false;  // `like` is the file itself, whose header is intact
    // Given by the user (ignored with `like`); its frame size must divide
    // kFrameLcm, as every detected one does (1, 2, 3, 4, 6 or 8 channels).
    std::optional<RawSampleFormat> format;
    std::optional<std::int32_t> rate;  // given by the user (else like's, else 48000)
    bool realign = false;              // read each stretch at its own alignment (a byte lost or added)
    std::string outputFolder;          // empty: the broken file's folder
};

// Where the reading of the frames shifts: from `offset` on, frames start at
// `alignment` past a multiple of the frame size (before it, at `previous`).
// The bytes between previousEnd (one past the last whole frame read the old
// way) and offset are garbled.
struct AlignmentChange {
    std::uint64_t offset = 0;
    std::uint64_t previousEnd = 0;
    std::uint32_t previous = 0;
    std::uint32_t alignment = 0;
};

// What the rescue found, for the front ends to show.
struct RescueReport {
    std::optional<Detection> detection;  // present when the format was guessed
    RawSampleFormat format;
    std::uint32_t alignment = 0;
    std::int32_t rate = kRescueDefaultRate;
    RateSource rateSource = RateSource::Default;
    std::uint64_t start = 0;     // the audio's first byte in the broken file
    std::uint64_t end = 0;       // one past its last whole frame
    std::uint64_t dataSize = 0;  // the sample bytes written
    std::vector<AlignmentChange> changes;
};

// Writes <folder>/<base>(rescue).wav, or <base>(realign).wav with `realign`,
// and returns its path. Throws kTextFormatNotSure when neither `like` nor
// `format` is given and the detection is not sure, kTextNoAudioFound when no
// stretch of the file sounds like audio in the format.
std::vector<std::string> RescueRecording(const RescueOptions& options, Host& host, RescueReport* report = nullptr);
// The refusals RescueRecording meets before it writes, met without writing:
// what a dry run checks before it says "would write". The report gets the
// detection, as the rescue's would.
void CheckRescue(const RescueOptions& options, RescueReport* report = nullptr);
// The same for raw2wav --detect: without a format of the user's to fall
// back on, only what detection is sure of is written.
void CheckDetectedRaw(const std::string& rawPath, bool formatGiven, RescueReport* report = nullptr);

// What a command line asked for: the options of a rescue, and the detected
// raw2wav (falling back to the format given when the detection is not sure).
struct Subject;
RescueOptions RescueOptionsOf(const Subject& subject);
std::vector<std::string> RunDetectedRaw(const Subject& subject, Host& host, RescueReport* report);
// Said before a raw file is wrapped in the format given instead of a detected one.
inline constexpr const char* kTextUsingGivenFormat = "using the given format";
// Whether the file starts as a RIFF/WAVE or RF64 file does.
bool StartsAsRiff(const std::string& path);

// The file RescueRecording writes for these options, and the one
// RawToWaveDetected writes: what a dry run or --no-clobber looks at.
std::string RescueOutputPath(const RescueOptions& options);
std::string DetectedRawOutputPath(const std::string& rawPath, const std::string& outputFolder);

// The stretch of `format` audio in [from, to) of the file around the sampled
// audio: its first and one-past-last whole frame at `alignment`. Junk before
// and after is told from the audio frame by frame by the jumps it makes.
struct Stretch {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};
std::optional<Stretch> LocateAudio(File& file, std::uint64_t from, std::uint64_t to, const RawSampleFormat& format,
                                   std::uint32_t alignment);

// The channel order of a stretch located at `alignment` (any channel first),
// from its ends: the byte where the audio begins (ends), found sample by
// sample, is where its first frame starts (its last frame ends). An end
// that junk could hardly fake, or the file's own start or end, settles it;
// two weaker ends only when they agree; nullopt otherwise.
std::optional<std::uint32_t> SettleRotation(File& file, const RawSampleFormat& format, std::uint32_t alignment,
                                            const Stretch& stretch);

// Byte offsets in [from, to) where the best alignment of `format` changes.
// The reading starts at `reference` when the first sounding window's best is
// a channel rotation of it.
std::vector<AlignmentChange> ScanAlignment(File& file, std::uint64_t from, std::uint64_t to,
                                           const RawSampleFormat& format,
                                           std::optional<std::uint32_t> reference = std::nullopt);

// The detection over a whole file, its frame start settled by where the
// audio begins or ends (sure only then): the rescue's and raw2wav's.
Detection DetectAudio(File& file);
// The detection of a raw file.
Detection DetectRawFormat(File& source);

// Detects the format of a raw file and, when sure, wraps its whole frames
// from the detected alignment into <folder>/<file name>(wavemaker).wav.
std::vector<std::string> RawToWaveDetected(const std::string& rawPath, std::optional<std::int32_t> rate,
                                           const std::string& outputFolder, Host& host, RescueReport* report = nullptr);

}  // namespace velmora
