// The file analysis: fills WaveInfo from one file and returns what the front
// end shows (messages, hex dump, report, enabled operations) as data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "waveinfo.h"

namespace velmora {

// Enabled state of every operation control after an analysis.
struct EnabledControls {
    bool Button3 = true;    // channel split
    bool surround = true;   // pseudo-surround group
    bool Button7 = true;    // normalize
    bool Button8 = true;    // header rebuild
    bool Button5 = true;    // multiplex
    bool Button11 = true;   // footer removal
    bool Button10 = true;   // rate rewrite
    bool ComboBox1 = true;  // its rate field
    bool Button13 = true;   // RIFF size rewrite
    // Data size recovery: off unless the data chunk claims 0, 0xFFFFFFFF or
    // more bytes than follow it (an unfinalized recording).
    bool Button14 = false;
};

enum class AnalysisStop {
    Complete,
    NoRiff,          // "RIFFチャンクがありません..."
    NoFmt,           // "fmtチャンクが見つかりません..."
    NoData,          // "dataチャンクが見つかりません..."
    DivisionByZero,  // blockAlign or samplesPerSec is 0
};

struct AnalysisResult {
    AnalysisStop stop = AnalysisStop::Complete;
    bool complete() const { return stop == AnalysisStop::Complete; }

    // Always set: the analysed file's folder (ends in the separator).
    std::string outputFolder;
    // Plain message boxes, in the order the user sees them. The format
    // warning comes after the controls are set and before the report.
    std::vector<std::string> messages;
    // The file field is emptied (no RIFF header).
    bool clearFileField = false;
    // Replaced only when the analysis got that far.
    std::optional<std::vector<std::string>> hexDump;
    // Present when the analysis reached the report: the report and log memos
    // are emptied, the controls set, then the report written. Also present
    // with the failure of a stored rate of 0, offering only the rate rewrite.
    std::optional<EnabledControls> enabled;
    std::optional<std::vector<std::string>> report;
    // Failure the top-level handler shows (division by zero), after the hex dump.
    std::optional<std::string> failure;

    std::int16_t cbSize = 0;
    bool fileSizeOK = false;
    bool footerOK = false;
    std::uint32_t headerSize = 0;
    // The file's real length, 64-bit.
    std::uint64_t fileLength = 0;
};

// Throws VelmoraError("ファイル %s は開けません") when the file cannot be
// opened; WaveInfo is then untouched.
AnalysisResult AnalyzeWave(const std::string& path, WaveInfo& info);

bool MatchChunkId(const std::uint8_t* bytes, const char* id);

struct PlayTime {
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    std::int32_t remainderFrames = 0;
};
// Throws VelmoraError("0 による浮動小数点数除算") when blockAlign or
// samplesPerSec is 0.
PlayTime ComputePlayTime(std::uint64_t dataSize, std::int16_t blockAlign, std::int32_t samplesPerSec);

// Hex dump lines of the given bytes: "0000: 52 49 46 46 ...".
std::vector<std::string> HexDumpLines(const std::uint8_t* bytes, std::size_t count);

}  // namespace velmora
