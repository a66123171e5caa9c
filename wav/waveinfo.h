// The record of the current file, as the last analysis left it.
#pragma once

#include <cstdint>
#include <string>

#include "records.h"

namespace velmora {

struct WaveInfo {
    // Header images as read.
    FourCC riffId{};
    // Sizes are the true 64-bit ones: from the ds64 chunk of an RF64 file, or
    // the file's own length for a plain file past 4 GiB whose 32-bit fields
    // hold them modulo 2^32.
    std::uint64_t riffSize = 0;
    FourCC waveId{};
    FourCC fmtId{};
    std::int32_t fmtSize = 0;
    std::uint16_t formatTag = 0;
    std::int16_t channels = 0;
    std::int32_t samplesPerSec = 0;
    std::int32_t avgBytesPerSec = 0;
    std::int16_t blockAlign = 0;
    std::int16_t bitsPerSample = 0;
    FourCC dataId{};
    std::uint64_t dataSize = 0;
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
    std::uint32_t extChannelMask = 0;

    // Set by the analysis: the path it ran on, and whether it ran to its end.
    // Operations act only on a completely analysed file (see ops/guard.h).
    std::string analyzedPath;
    bool analysisComplete = false;
    // The analysis stopped on a stored rate of 0: only the rate rewrite may act.
    bool rateRewriteOnly = false;
    // The file is RF64: its sizes live in the ds64 chunk after "WAVE".
    bool rf64 = false;

    RiffHeader riffHeader() const { return {riffId, static_cast<std::uint32_t>(riffSize), waveId}; }
    FormatBlock formatBlock() const {
        return {fmtId, fmtSize, formatTag, channels, samplesPerSec, avgBytesPerSec, blockAlign,
                bitsPerSample};
    }
    DataHeader dataHeader() const { return {dataId, static_cast<std::uint32_t>(dataSize)}; }
    void setRiffHeader(const RiffHeader& h) {
        riffId = h.riffId;
        riffSize = h.riffSize;
        waveId = h.waveId;
    }
    void setFormatBlock(const FormatBlock& f) {
        fmtId = f.fmtId;
        fmtSize = f.fmtSize;
        formatTag = f.formatTag;
        channels = f.channels;
        samplesPerSec = f.samplesPerSec;
        avgBytesPerSec = f.avgBytesPerSec;
        blockAlign = f.blockAlign;
        bitsPerSample = f.bitsPerSample;
    }
    void setDataHeader(const DataHeader& d) {
        dataId = d.dataId;
        dataSize = d.dataSize;
    }

    // Whole seconds of the play time (the one-second blocks of the transforms).
    std::int64_t totalSeconds() const {
        return static_cast<std::int64_t>(playHours) * 3600 + static_cast<std::int64_t>(playMinutes) * 60 +
               playSeconds;
    }
};

}  // namespace velmora
