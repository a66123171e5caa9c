// The file analysis: fills WaveInfo from one file and returns what it found
// (messages, hex dump, report, the size checks) as data; ops/operations.h
// decides from these facts which operations the file allows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wav/chunks.h"
#include "wav/metadata.h"
#include "wav/waveinfo.h"

namespace velmora {

enum class AnalysisStop {
    Complete,
    NoRiff,          // "RIFFチャンクがありません..."
    NoFmt,           // "fmtチャンクが見つかりません..."
    NoData,          // "dataチャンクが見つかりません..."
    DivisionByZero,  // blockAlign or samplesPerSec is 0
};

inline constexpr const char* kTextPatchUndone = "前回中断された修復を取り消し、元の内容に戻しました";

// Whether the data chunk's size holds: a recording never finalized leaves 0
// or 0xFFFFFFFF with samples after it; a cut file has fewer bytes than the
// size counts.
enum class DataSizeState { Sound, Unfinalized, PastEnd };

struct AnalysisResult {
    AnalysisStop stop = AnalysisStop::Complete;
    bool complete() const { return stop == AnalysisStop::Complete; }

    // What the user is told, in order (the format warning of a file that is
    // not integer PCM); a front end shows them before the report.
    std::vector<std::string> messages;
    // The header bytes up to the sample data, once the data chunk was found.
    std::optional<std::vector<std::string>> hexDump;
    // The report lines, present when the analysis ran to its end.
    std::optional<std::vector<std::string>> report;
    // Why the analysis stopped past the hex dump (a frame size or rate of 0).
    std::optional<std::string> failure;

    std::int16_t cbSize = 0;
    bool fileSizeOK = false;
    bool footerOK = false;
    std::uint32_t headerSize = 0;
    // The file's real length, 64-bit.
    std::uint64_t fileLength = 0;

    // Every chunk from the first after "WAVE" to the end of the file.
    std::vector<ChunkEntry> chunks;
    // Where the chain broke when "fmt " or "data" had to be found by a byte
    // search from there.
    std::optional<std::uint64_t> searchedFrom;
    // The bytes of a frame cut short at the end of the file (a recording
    // that stopped inside a frame); they are no footer.
    std::uint32_t partialFrame = 0;
    DataSizeState dataState = DataSizeState::Sound;
    // PastEnd: the bytes the data size counts beyond the end of the file.
    std::uint64_t dataMissing = 0;
    // The RIFF size leaves out only the pad byte that ends the file: every
    // reader plays such a file, so it counts as consistent.
    bool riffOmitsPad = false;
    // The format chunk holds fewer than the 16 bytes of its fields: the
    // fields it lacks read as 0, and no operation may read or write them.
    bool formatTooShort = false;
    // The descriptive chunks (bext, iXML, INFO, cues, loops) and what was
    // wrong with them; the report shows them after the chunk list.
    Metadata metadata;
};

// Throws VelmoraError("ファイル %s は開けません") when the file cannot be
// opened; WaveInfo is then untouched.
AnalysisResult AnalyzeWave(const std::string& path, WaveInfo& info);


struct PlayTime {
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    std::int32_t remainderFrames = 0;
};
// Throws VelmoraError("0 による浮動小数点数除算") when blockAlign or
// samplesPerSec is 0.
PlayTime PlayTimeOfFrames(std::int64_t frames, std::int32_t samplesPerSec);
PlayTime ComputePlayTime(std::uint64_t dataSize, std::int16_t blockAlign, std::int32_t samplesPerSec);

// Hex dump lines of the given bytes: "0000: 52 49 46 46 ...".
std::vector<std::string> HexDumpLines(const std::uint8_t* bytes, std::size_t count);

}  // namespace velmora
