// The four header repairs of the main tab: a copy with a plain 16-byte format
// chunk, the RIFF size rewritten in place, a copy without the LIST footer, and
// the sampling frequency rewritten in place. None writes a log line; progress
// is the only feedback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/host.h"
#include "wav/waveinfo.h"

namespace velmora {

struct RebuildHeaderOptions {
    std::string source;        // the analysed file; empty does nothing
    std::string outputFolder;  // empty: the source's folder
};

// Writes <folder>/<base>(reheader).wav with the plain 44-byte header (RF64
// past 4 GiB) and the whole frames of the sample data. Refreshes the three
// header images in info from the file. A plain 16-byte format chunk at offset 12 is refused with the
// message "fmtチャンクが再構築対象外です。" and returns no path.
std::vector<std::string> RebuildHeader(WaveInfo& info, const RebuildHeaderOptions& options, Host& host);

// The files RebuildHeader and RemoveFooter write.
std::string RebuildHeaderOutputPath(const RebuildHeaderOptions& options);
struct RemoveFooterOptions;
std::string RemoveFooterOutputPath(const RemoveFooterOptions& options);

struct RewriteRiffSizeOptions {
    std::string source;  // the analysed file; empty does nothing
};

// Patches bytes 4–7 of the analysed file to fileSize − 8; info.riffSize holds
// the new value. Returns the patched file's path.
std::vector<std::string> RewriteRiffSize(WaveInfo& info, const RewriteRiffSizeOptions& options, Host& host);

struct RemoveFooterOptions {
    std::string source;        // the analysed file; empty does nothing
    std::string outputFolder;  // empty: the source's folder
};

// Writes <folder>/<base>(futta del).wav: the header, then the bytes after it
// up to the footer's length before the end of the file. Leaves info as it is.
std::vector<std::string> RemoveFooter(const WaveInfo& info, const RemoveFooterOptions& options, Host& host);

struct RewriteSampleRateOptions {
    std::string source;     // the analysed file; empty does nothing
    std::int32_t rate = 0;  // frames per second (ParseSampleRate)
};

// "'%s' はサンプリング周波数に使えません。…": a rate of 0 or less, or one whose
// byte rate (rate × blockAlign) does not fit 32 bits.
std::string TextUnusableRate(const std::string& rateText);
// Throws that text, naming the rate as rateText, unless the rate can be
// stored for this frame size.
void RequireUsableRate(std::int32_t rate, const std::string& rateText, std::int16_t blockAlign);

// The format block as the rate rewrite leaves it: the rate, and the byte
// rate as rate × blockAlign; for IMA ADPCM, MS ADPCM and GSM 6.10 with their
// samples per block, rate × blockAlign / samples per block (rounded down);
// for other compressed blocks (many frames each) in its old ratio to the
// rate. Throws TextUnusableRate for a rate it cannot store. The dry run shows
// this very block.
FormatBlock RateRewritten(const WaveInfo& info, std::int32_t rate);

// Patches samplesPerSec and avgBytesPerSec of the analysed file's format block;
// info's format block is re-read and then holds the new values. Returns the
// patched file's path.
std::vector<std::string> RewriteSampleRate(WaveInfo& info, const RewriteSampleRateOptions& options, Host& host);

}  // namespace velmora
