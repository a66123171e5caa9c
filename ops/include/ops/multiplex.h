// Multiplexing: the six speaker rows, the registration of a mono
// file at a row, and the writer that interleaves the checked rows' files into
// one multichannel file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/file.h"
#include "ops/host.h"
#include "wav/analysis.h"
#include "wav/records.h"
#include "wav/waveinfo.h"

namespace velmora {

inline constexpr int kChannelRows = 6;

inline constexpr const char* kTextMonoOnly = "モノラルwavしか登録できません";
inline constexpr const char* kTextCompressedRow =
    "圧縮形式のwavは多重化できません。無圧縮PCMか浮動小数点のファイルを登録してください";
inline constexpr const char* kTextMuxRowFrame = "ブロックサイズがbit解像度と合わないwavは多重化できません";
inline constexpr const char* kTextFormatMismatch = "サンプリングレートかbit解像度が揃っていません";
inline constexpr const char* kTextNoChannelFiles = "多重化するファイルが登録されていません";
inline constexpr const char* kTextOutputIsInput = "出力ファイルが入力ファイルと同じです";
inline constexpr const char* kTextMuxBadFrame = "ブロックサイズかサンプリング周波数が不正なため多重化できません";
// A read came back short (the log line before it says which file).
inline constexpr const char* kTextShortRead = "!";

// The row's fixed caption ("Left" … "S-Right"): bit `row` of a channel mask.
const char* ChannelCaption(int row);

// What the output header takes from a registered file: its header images as
// its own analysis read them, kept with the row so that a later analysis of
// another file cannot change the output's format.
struct ChannelFormat {
    RiffHeader riff;
    FormatBlock format;
    std::uint16_t validBits = 0;
    std::uint16_t subFormatTag = 0;  // tells float from integer in the extensible layout
    FourCC dataId{};
};

// A registered file as its own analysis read it. The writer takes its
// input, length and format from here, never from what was analysed since.
struct ChannelEntry {
    std::string path;  // the input file as given at registration
    std::int32_t samplesPerSec = 0;
    std::int16_t bitsPerSample = 0;
    std::int16_t channels = 0;
    std::uint64_t frames = 0;  // the play time in frames
    std::uint64_t dataSize = 0;
    std::int32_t dataChunkPos = 0;
    ChannelFormat format;
    // The file its analysis read; the writer reads only that file.
    FileIdentity analysed{};
};

// One row of the list: its check box and, once a file is registered there,
// that file's entry. Registration sets the entry, clearing removes it.
struct ChannelRow {
    bool checked = false;
    std::optional<ChannelEntry> entry;

    bool registered() const { return entry.has_value(); }
    // The registered file; an empty row is named by two blanks (its empty
    // folder and name), which is what the log and the refusal show then.
    std::string inputPath() const { return entry ? entry->path : "  "; }
};

// Where the writer reads the rows: once, at the start, for the output's
// shape and the files and slots the samples come from. The list may change
// while messages run; those changes no longer reach the run.
class ChannelRowSource {
public:
    virtual ~ChannelRowSource() = default;
    // A copy of the row as it is now; index 0–5.
    virtual ChannelRow row(int index) const = 0;
};

// The list itself: six rows, empty and unchecked at start.
class ChannelList : public ChannelRowSource {
public:
    ChannelRow row(int index) const override { return at(index); }
    const ChannelRow& at(int index) const;
    // The user's click on a row's check box, allowed at any time.
    void setChecked(int index, bool checked);
    void setRow(int index, ChannelRow row);

private:
    std::array<ChannelRow, kChannelRows> rows_{};
};

struct ChannelRegistration {
    // The analysis of the file, to be shown as any analysis is.
    AnalysisResult analysis;
    bool registered = false;
    // Shown after the analysis when the file is refused for not being mono.
    // A file the analysis rejected is refused without one (the analysis has
    // given its own message).
    std::optional<std::string> refusal;
};

// Analyses the file at path into info and registers it at the row (0–5)
// when the analysis completed and the file is mono; otherwise the row is
// unchanged. Throws VelmoraError("ファイル %s は開けません") when the file
// cannot be opened.
ChannelRegistration RegisterChannelFile(int row, const std::string& path, WaveInfo& info, ChannelList& list);

// Every row blank and unchecked (the front end empties its own log).
void ClearChannelList(ChannelList& list);

struct MultiplexOptions {
    bool extensible = true;    // extensible header when a centre/rear row is checked
    bool cue = false;          // cue block, extensible form only
    std::string outputFolder;  // empty: the folder of the file the output is named after
};

// The file WriteMultiplex would write; throws its refusals.
std::string MultiplexOutputPath(const ChannelRowSource& rows, const MultiplexOptions& options);
// Writes <folder><base>[(EX)](mux).wav from the checked rows and
// returns its path. Logs (through host.log, emptied first)
// the output path, "00padding", each input path and "end". Every refusal is
// a VelmoraError thrown before the output is created; an input shorter than
// the output's length logs "in size:%d miss:%d " and throws "!". The first
// row that fails stops the run before a sample is written. Each input is
// read once and every output frame written once.
std::vector<std::string> WriteMultiplex(const ChannelRowSource& rows, const MultiplexOptions& options, Host& host);

}  // namespace velmora
