// The descriptive chunks of a WAV file: broadcast extension (bext), iXML,
// LIST/INFO tags, cue points with their LIST/adtl labels, sampler loops
// (smpl) and the instrument chunk (inst). Read from the chunk table only,
// each within its own body and under a cap; whatever is wrong with one of
// them becomes a note and never stops the analysis.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wav/chunks.h"

namespace velmora {

class File;

// Text of a chunk body is read up to this many bytes per chunk; metadata
// past it is no metadata any writer makes.
inline constexpr std::uint64_t kMetadataBodyCap = std::uint64_t{1} << 20;
// All metadata chunks of a file together are read up to this many bytes.
inline constexpr std::uint64_t kMetadataTotalCap = std::uint64_t{8} << 20;
// Cue points, loops and INFO fields are kept up to this many each.
inline constexpr std::size_t kMetadataItemCap = 4096;
// Notes stop after this many, with one more that says so.
inline constexpr std::size_t kMetadataNoteCap = 256;

struct BextInfo {
    std::uint16_t version = 0;
    std::string description;
    std::string originator;
    std::string originatorReference;
    std::string originationDate;      // "yyyy-mm-dd" as written
    std::string originationTime;      // "hh:mm:ss" as written
    std::uint64_t timeReference = 0;  // samples since midnight
    std::string codingHistory;
    // Version 2 only; hundredths as stored, absent when unset (0x7FFF).
    std::optional<std::int16_t> loudnessValue;
    std::optional<std::int16_t> loudnessRange;
    std::optional<std::int16_t> maxTruePeakLevel;
    std::optional<std::int16_t> maxMomentaryLoudness;
    std::optional<std::int16_t> maxShortTermLoudness;
};

// The fields of an iXML document that say where a take belongs; each empty
// when the document has none.
struct IxmlInfo {
    std::string project;
    std::string scene;
    std::string take;
    std::string tape;
    std::string note;
    std::string masterSpeed;
    std::string timecodeRate;
    std::string timecodeFlag;
};

// The loudness fields of bext version 2 and the iXML fields, each with its
// JSON key and its report label (a format of the value in LU/dB for the
// loudness), in the order they are shown.
struct BextLevelField {
    const char* key;
    const char* label;
    std::optional<std::int16_t> BextInfo::*value;
};
inline constexpr BextLevelField kBextLevelFields[] = {
    {"loudnessValue", "ラウドネス %.2fLUFS ", &BextInfo::loudnessValue},
    {"loudnessRange", "レンジ %.2fLU ", &BextInfo::loudnessRange},
    {"maxTruePeakLevel", "最大トゥルーピーク %.2fdBTP ", &BextInfo::maxTruePeakLevel},
    {"maxMomentaryLoudness", "最大モーメンタリー %.2fLUFS ", &BextInfo::maxMomentaryLoudness},
    {"maxShortTermLoudness", "最大ショートターム %.2fLUFS ", &BextInfo::maxShortTermLoudness}};
struct IxmlField {
    const char* key;
    const char* label;
    std::string IxmlInfo::*text;
};
inline constexpr IxmlField kIxmlFields[] = {{"project", "プロジェクト", &IxmlInfo::project},
                                            {"scene", "シーン", &IxmlInfo::scene},
                                            {"take", "テイク", &IxmlInfo::take},
                                            {"tape", "テープ", &IxmlInfo::tape},
                                            {"note", "メモ", &IxmlInfo::note},
                                            {"masterSpeed", "速度", &IxmlInfo::masterSpeed},
                                            {"timecodeRate", "タイムコード", &IxmlInfo::timecodeRate},
                                            {"timecodeFlag", "タイムコード種別", &IxmlInfo::timecodeFlag}};

struct InfoField {
    std::string id;    // the four characters of the field
    std::string text;  // UTF-8: as written, converted from Shift-JIS, or escaped
};

struct CuePoint {
    std::uint32_t id = 0;
    std::uint64_t position = 0;           // in samples (frames) from the start of the data
    std::optional<std::uint64_t> length;  // a region: its length in samples (adtl ltxt)
    std::string label;                    // adtl labl
    std::string note;                     // adtl note
    std::string text;                     // adtl ltxt
};

struct SampleLoop {
    std::uint32_t id = 0;
    std::uint32_t type = 0;  // 0 forward, 1 alternating, 2 backward
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t fraction = 0;
    std::uint32_t playCount = 0;  // 0: endless
};

struct SamplerInfo {
    std::uint32_t unityNote = 0;
    std::uint32_t pitchFraction = 0;
    std::uint32_t samplePeriod = 0;  // nanoseconds per sample
    std::vector<SampleLoop> loops;
};

struct InstrumentInfo {
    int unshiftedNote = 0;
    int fineTune = 0;  // cents
    int gain = 0;      // dB
    int lowNote = 0;
    int highNote = 0;
    int lowVelocity = 0;
    int highVelocity = 0;
};

// What the readers need of the file besides the chunks: the rate for times
// and the data's frame count for positions that point past it.
struct MetadataContext {
    std::int32_t samplesPerSec = 0;
    std::uint64_t frames = 0;
};

struct Metadata {
    MetadataContext context;
    std::optional<BextInfo> bext;
    std::optional<IxmlInfo> ixml;
    std::vector<InfoField> info;
    std::vector<CuePoint> cues;
    std::optional<SamplerInfo> sampler;
    std::optional<InstrumentInfo> instrument;
    // What was wrong with the chunks, one sentence each.
    std::vector<std::string> notes;

    bool empty() const {
        return !bext && !ixml && info.empty() && cues.empty() && !sampler && !instrument && notes.empty();
    }
};

Metadata ReadMetadata(File& file, const std::vector<ChunkEntry>& chunks, const MetadataContext& context);

// The report's section for these: a heading and a line for each thing held,
// long texts cut to one line; no lines for a file with none.
std::vector<std::string> MetadataReportLines(const Metadata& m);

// Samples as a time at the rate: "hh:mm:ss.mmm", milliseconds cut, not
// rounded, so a position never shows later than it is; empty without a rate.
std::string SampleTime(std::uint64_t samples, std::int32_t samplesPerSec);

// Text as read from a chunk, up to its first NUL: valid UTF-8 as it is;
// else valid Shift-JIS (code page 932, as Japanese software writes it)
// converted to UTF-8; else escaped ("\xNN"), with escaped set.
std::string DecodeChunkText(const std::uint8_t* bytes, std::size_t count, bool* escaped = nullptr);

bool IsValidUtf8(const std::string& text);

}  // namespace velmora
