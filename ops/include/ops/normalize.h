// Normalize: lists the peaks minute by minute, then, when the user agrees,
// scales a stereo file (16-, 24- or 32-bit integers, 32- or 64-bit float) so
// its loudest sample reaches full scale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/waveinfo.h"

namespace velmora {

// The peak list the operation fills, shown by each front end in its own way.
class PeakListView {
public:
    virtual ~PeakListView() = default;
    // Makes the list visible before the first row.
    virtual void showList() = 0;
    virtual void clearRows() = 0;
    // One row "分", "秒", "ピーク", scrolled into view. The operation lets
    // pending messages run right after each row, so rows appear as found.
    virtual void addRow(int minute, int second, int peak) = 0;
    // The same for a float file, whose peaks are float values.
    virtual void addFloatRow(int minute, int second, double peak) = 0;
    // The overall peak label, "ピーク値:%d ".
    virtual void setLabel(const std::string& text) = 0;
    virtual void hide() = 0;
};

struct NormalizeOptions {
    std::string source;        // the analysed file; empty does nothing
    std::string outputFolder;  // empty: the source's folder
};

// What the gain aims at. The window always scales to full scale.
struct NormalizeTarget {
    enum class Kind {
        FullScale,  // the loudest sample to full scale, as the window does
        Peak,       // the sample peak to `level` dBFS
        Loudness,   // the integrated loudness to `level` LUFS, the true peak kept at or below the limit
    };
    Kind kind = Kind::FullScale;
    double level = 0;
    double truePeakLimit = -1;  // dBTP
};

inline constexpr const char* kNormalizeQuestion = "ノーマライズをしますか？";
// Digital silence: no gain brings a peak of 0 to full scale.
inline constexpr const char* kTextSilentFile = "無音のためノーマライズできません";

// The loudness target's gain would lift the true peak above its limit; no
// limiter reshapes the signal, so the file is left as it is.
inline constexpr const char* kTextTruePeakOverLimit =
    "目標のラウドネスまで上げるとトゥルーピークが上限を超えるため、ノーマライズできません";

// The target the options of the verb choose (--peak, --lufs, --true-peak-limit).
class OptionValues;
NormalizeTarget NormalizeTargetOf(const OptionValues& options);

// The file Normalize writes.
std::string NormalizeOutputPath(const NormalizeOptions& options);

// A float peak as the list and the label show it: six significant digits.
std::string FloatPeakText(double peak);

// The gain for an overall peak (1–32767): 32767 / peak in single precision.
float NormalizeGain(int peak);

// Scans the peaks into the view, asks kNormalizeQuestion through the host,
// and on anything but No writes <folder>/<base>(normalize).wav, hides the
// view and returns the path. Answer No returns nothing written, the view left
// as it is. A peak of 0 throws kTextSilentFile after the label is set, before
// the question. Throws VelmoraError on every failure; every file is closed then.
std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, PeakListView& view,
                                   Host& host);
// The same towards another target: one gain for the whole file, computed
// after the scan (which measures the loudness too for a loudness target) and
// refused before the question when the loudness target would push the true
// peak past its limit (kTextTruePeakOverLimit) or the file is silent.
// Integers are rounded to the nearest value.
std::vector<std::string> Normalize(const WaveInfo& info, const NormalizeOptions& options, const NormalizeTarget& target,
                                   PeakListView& view, Host& host);

}  // namespace velmora
