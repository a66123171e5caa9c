// The record of the current file, as the last analysis left it.
#pragma once

#include <cstdint>
#include <string>

#include "wav/records.h"

namespace velmora {

struct WaveInfo {
    // The three header records as read. Their 32-bit size fields are the
    // file's own; riffSize and dataSize below are the true sizes.
    RiffHeader riff{};
    FormatBlock format{};
    DataHeader data{};
    // The true 64-bit sizes: the fields as read, or the ds64 chunk's of an
    // RF64 file, or the file's own length for a plain file past 4 GiB whose
    // 32-bit fields hold them modulo 2^32.
    std::uint64_t riffSize = 0;
    std::uint64_t dataSize = 0;
    // The extension of an extensible format chunk (0 when there is none).
    std::uint16_t validBits = 0;
    std::uint32_t channelMask = 0;
    std::uint16_t subFormatTag = 0;

    // Derived values.
    std::uint64_t fileSize = 0;
    std::int64_t riffSizeExcess = 0;
    std::uint64_t computedDataSize = 0;
    std::int32_t playHours = 0;
    std::int32_t playMinutes = 0;
    std::int32_t playSeconds = 0;
    std::int32_t playRemainderFrames = 0;
    std::int32_t dataChunkPos = 0;
    std::int32_t fmtChunkPos = 0;
    std::int64_t footerSize = 0;
    std::uint32_t listFooterSize = 0;
    // A format chunk that follows the data chunk, pad byte included: the file
    // needs it, so it is no footer, and copies of the header keep it.
    std::uint32_t formatAfterData = 0;
    std::uint32_t extChannelMask = 0;
    // The pad byte after odd sample data, when the file has it (0 or 1).
    std::uint32_t dataPad = 0;
    // False for compressed samples without a fact chunk: the play time
    // fields are then 0 and mean nothing.
    bool playTimeKnown = true;

    // Set by the analysis: the path it ran on, and whether it ran to its end.
    // Operations act only on a completely analysed file (see ops/source_checks.h).
    std::string analyzedPath;
    bool analysisComplete = false;
    // Which file that was (device and inode) and when its contents last
    // changed; with fileSize, what every operation checks the file it opens
    // against. The in-place repairs move the time on with their own patch.
    std::uint64_t fileDevice = 0;
    std::uint64_t fileInode = 0;
    std::int64_t fileModifiedNs = 0;
    // The analysis stopped on a stored rate of 0: only the rate rewrite may act.
    bool rateRewriteOnly = false;
    // The file is RF64: its sizes live in the ds64 chunk after "WAVE".
    bool rf64 = false;

    // Sizes that need more than the 32-bit fields: an RF64 file, or a plain
    // one past 4 GiB whose fields hold them modulo 2^32.
    bool sizesPast32Bits() const { return rf64 || fileSize > 0xFFFFFFFFull; }

    // Where the samples start: right after the data chunk's header, which
    // ends every header the writers copy.
    std::uint64_t dataStart() const { return static_cast<std::uint64_t>(dataChunkPos) + DataHeader::kSize; }

    // The records with the true sizes in their 32-bit fields (modulo 2^32),
    // the form the writers start from.
    RiffHeader riffHeader() const {
        RiffHeader h = riff;
        h.riffSize = static_cast<std::uint32_t>(riffSize);
        return h;
    }
    DataHeader dataHeader() const {
        DataHeader h = data;
        h.dataSize = static_cast<std::uint32_t>(dataSize);
        return h;
    }
    // A record read from the file: its size becomes the true size too.
    void setRiffHeader(const RiffHeader& h) {
        riff = h;
        riffSize = h.riffSize;
    }
    void setDataHeader(const DataHeader& d) {
        data = d;
        dataSize = d.dataSize;
    }

    // Whole seconds of the play time (the one-second blocks of the transforms).
    std::int64_t totalSeconds() const {
        return static_cast<std::int64_t>(playHours) * 3600 + static_cast<std::int64_t>(playMinutes) * 60 + playSeconds;
    }
};

}  // namespace velmora
