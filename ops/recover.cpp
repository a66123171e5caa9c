#include "ops/recover.h"
#include "ops/records.h"
#include "ops/rules.h"

#include <algorithm>
#include <vector>

#include "ops/rescue.h"
#include "ops/source_checks.h"
#include "ops/second_blocks.h"
#include "io/patch.h"
#include "wav/chunks.h"
#include "wav/rf64.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/header.h"
#include "wav/records.h"
#include "wav/sample_format.h"
#include "wav/text.h"

namespace velmora {

namespace {

// The recovery writes the two size fields and nothing else: the RIFF size
// (bytes 4–7) and the data chunk's size, or the ds64 sizes of an RF64 file.
// Both land or neither: a run killed between them is undone by the next
// analysis.
void WriteSizeFields(File& file, const WaveInfo& info, const SizeRepair& sizes) {
    const auto dataChunkPos = static_cast<std::uint64_t>(info.dataChunkPos);
    if (!info.rf64) RequireFieldInChunk(file, "data", dataChunkPos, dataChunkPos + 4, 4, kTextNotAnalysed);
    // An RF64 file counts its frames beside the sizes; readers check the
    // count against the data. Blocks of compressed samples are no frames;
    // a-law and µ-law samples are one byte each, so their frames are.
    std::optional<std::uint64_t> frames;
    if (info.rf64 && (!IsCompressedFormat(info) || IsOneBytePerSample(info)))
        frames = sizes.dataSize / static_cast<std::uint16_t>(info.format.blockAlign);
    // The 32-bit RIFF field of an RF64 file stays 0xFFFFFFFF.
    PatchSizeFields(file, {sizes.riffSize, sizes.dataSize, frames}, {info.rf64, 0xFFFFFFFFu, dataChunkPos});
}

}  // namespace

std::optional<SizeRepair> PlanSizeRepair(const ChunkTable& table, std::uint64_t dataChunkPos,
                                         std::uint64_t declaredDataSize, std::uint64_t riffSize,
                                         std::uint32_t blockAlign, bool rf64) {
    const std::uint64_t length = table.length;
    const std::uint64_t dataStart = ChunkBodyAt(dataChunkPos);
    if (length < dataStart || blockAlign == 0) return std::nullopt;
    const ChunkEntry* data = nullptr;
    for (const ChunkEntry& c : table.chunks)
        if (c.id == "data" && c.offset == dataChunkPos) data = &c;
    // Only a data chunk of the chain: anything else lies inside another chunk.
    if (data == nullptr) return std::nullopt;
    // A plain file past 4 GiB holds its sizes modulo 2^32, which reads back
    // only while the data runs to the end of the file.
    const bool wraps = !rf64 && RiffSizeOfFile(length) > 0xFFFFFFFFull;
    SizeRepair sizes;
    if (!data->extent) {
        // The data size is sound; a RIFF size that counts neither the whole
        // file nor the chunks up to the data's end is what a run stopped
        // between the two fields would leave.
        if (wraps || riffSize == RiffSizeOfFile(length) || riffSize == RiffSizeOfFile(data->end())) return std::nullopt;
        sizes.dataSize = declaredDataSize;
        sizes.riffSize = RiffSizeOfFile(length);
        return sizes;
    }
    sizes.dataSize = *data->extent / blockAlign * blockAlign;
    sizes.riffSize = RiffSizeOfFile(length);
    if (wraps) {
        if (dataStart + sizes.dataSize != length) return std::nullopt;
        if ((sizes.dataSize & 0xFFFFFFFFull) == declaredDataSize && (sizes.riffSize & 0xFFFFFFFFull) == riffSize)
            return std::nullopt;
        return sizes;
    }
    if (sizes.dataSize == declaredDataSize && sizes.riffSize == riffSize) return std::nullopt;
    return sizes;
}

std::optional<SizeRepair> PlanRecovery(File& file, const WaveInfo& info) {
    if (info.format.blockAlign <= 0) throw VelmoraError(kTextBadLayout);
    // Positions and sizes are the analysed file's; a file that changed
    // length since would be patched by stale numbers.
    const std::uint64_t length = file.size();
    if (length != info.fileSize) throw VelmoraError(kTextNotAnalysed);
    std::uint8_t head[8];
    const auto dataChunkPos = static_cast<std::uint64_t>(info.dataChunkPos);
    std::uint8_t riff[kDs64At + kDs64ChunkSize];
    if (file.readAt(dataChunkPos, head, 8) < 8 || file.readAt(0, riff, sizeof riff) < 8)
        throw VelmoraError(kTextNotAnalysed);
    const std::optional<Ds64> ds64 = info.rf64 ? ReadDs64(riff, sizeof riff) : std::nullopt;
    if (info.rf64 && !ds64) throw VelmoraError(kTextNotAnalysed);
    const ChunkTable table = WalkChunks(file, kFirstChunkAt, length, {ds64, 0});
    const auto align = static_cast<std::uint32_t>(info.format.blockAlign);
    return ds64 ? PlanSizeRepair(table, dataChunkPos, ds64->dataSize, ds64->riffSize, align, true)
                : PlanSizeRepair(table, dataChunkPos, GetU32(head + 4), GetU32(riff + 4), align);
}

std::string TextDataShifted(const std::string& offset) {
    return Format(
        "%s バイト目からデータの読み位置がずれています(1バイトの欠落か余分)。サイズは直していません。rescue --realign "
        "で読み直せます",
        offset.c_str());
}

std::vector<std::uint64_t> ShiftsInData(File& file, const WaveInfo& info, std::uint64_t dataSize) {
    const std::optional<SampleFormat> sample = TransformSampleFormat(info);
    if (!sample || info.format.channels <= 0 || info.format.channels > 8) return {};
    const RawSampleFormat format{info.format.channels, EncodingOf(sample->bytes * 8, sample->isFloat())};
    // Windows are read a multiple of kFrameLcm apart: other frames would
    // seem to shift from one window to the next.
    if (format.bytesPerSample() != sample->bytes || kFrameLcm % static_cast<std::uint64_t>(format.frameSize()) != 0)
        return {};
    const std::uint64_t from = info.dataStart();
    std::vector<std::uint64_t> offsets;
    for (const AlignmentChange& c : ScanAlignment(file, from, from + dataSize, format, 0u)) offsets.push_back(c.offset);
    return offsets;
}

std::vector<std::string> RecoverDataSize(WaveInfo& info, const RecoverOptions& options, Host& host) {
    if (options.source.empty()) return {};
    RequireAnalysed(options.source, info);
    // The frame size comes from the format chunk's own bytes or not at all.
    if (static_cast<std::uint32_t>(info.format.fmtSize) < kFormatFieldsSize) throw VelmoraError(kTextFormatTooShort);
    if (info.format.blockAlign <= 0) throw VelmoraError(kTextBadLayout);
    const auto fmtAt = static_cast<std::uint64_t>(info.fmtChunkPos);
    const auto dataAt = static_cast<std::uint64_t>(info.dataChunkPos);
    if (ChunksOverlap(fmtAt, FormatFieldsEnd(info), dataAt, dataAt + kChunkHeaderSize))
        throw VelmoraError(kTextChunksOverlap);

    File file = OpenForPatch(options.source, info);
    // The two fields it replaces still hold what the analysis read.
    if (!info.rf64) {
        std::uint8_t field[4];
        PutU32(field, info.riff.riffSize);
        RequireBytesAsAnalysed(file, 4, field, sizeof field);
        PutU32(field, info.data.dataSize);
        RequireBytesAsAnalysed(file, static_cast<std::uint64_t>(info.dataChunkPos) + 4, field, sizeof field);
    }
    const std::optional<SizeRepair> sizes = PlanRecovery(file, info);
    if (!sizes) {
        file.close();
        host.message(kTextDataSizeHealthy);
        return {};
    }
    // Sizes patched over a shift would pass the garbled rest for sound.
    if (const auto shifts = ShiftsInData(file, info, sizes->dataSize); !shifts.empty()) {
        file.close();
        throw VelmoraError(TextDataShifted(GroupThousands(shifts.front())));
    }
    WriteSizeFields(file, info, *sizes);
    file.close();
    info.riffSize = sizes->riffSize;
    info.dataSize = sizes->dataSize;
    host.progress(100);
    return {options.source};
}


const OperationRecord kRecoverRecord{
    .summary =
        "Set the data and RIFF sizes of each unfinalized recording (data size 0, 0xFFFFFFFF or past the end) "
        "in place from its length, RF64 included. A file whose sizes are sound is left alone (exit status 0, "
        "with a note)",
    .filesHelp = "WAV files to patch",
    .rule =
        [](const WaveInfo& w, const AnalysisResult& r) {
            using namespace rules;
            return First(w, r, {ShortFormat, DataSizeSound, SizesOverlap});
        },
    .plan =
        [](const Subject& s) {
            File file = File::OpenRead(s.path);
            const std::optional<SizeRepair> sizes = PlanRecovery(file, s.info);
            if (!sizes) return Plan{};
            if (const auto shifts = ShiftsInData(file, s.info, sizes->dataSize); !shifts.empty())
                throw VelmoraError(TextDataShifted(GroupThousands(shifts.front())));
            return Plan{
                {{s.path, true,
                  "data size " + std::to_string(s.info.dataSize) + " -> " + std::to_string(sizes->dataSize) +
                      ", RIFF size " + std::to_string(s.info.riffSize) + " -> " + std::to_string(sizes->riffSize)}}};
        },
    .run = [](Subject& s, Host& host) { return RecoverDataSize(s.info, {s.path}, host); },
    .notWaveHint = "a recording without a usable header: velmora-cli rescue copies its samples behind a new one",
};

}  // namespace velmora
