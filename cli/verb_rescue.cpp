// recover --like / --realign / header-less files, raw2wav --detect.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "io/file.h"
#include "ops/option_text.h"
#include "rescue_cli.h"
#include "wav/bytes.h"
#include "wav/error.h"
#include "wav/rf64.h"
#include "wav/text.h"

namespace velmora::cli {

namespace {

// Readings shown after a detection.
constexpr std::size_t kShownGuesses = 5;

const char* RateOrigin(RateSource source) {
    switch (source) {
        case RateSource::Like: return "from --like";
        case RateSource::Given: return "from --rate";
        default: return "default";
    }
}

void PrintDetection(const Detection& d) {
    std::fprintf(stderr, "rank  format       offset   score  confidence\n");
    for (std::size_t i = 0; i < d.ranked.size() && i < kShownGuesses; ++i) {
        const FormatGuess& g = d.ranked[i];
        std::fprintf(stderr, "%4zu  %-11s  %6u  %6.2f  %9.1f%%\n", i + 1, FormatLabel(g.format).c_str(), g.alignment,
                     g.score, g.confidence * 100);
    }
    std::fprintf(stderr, "%s\n", d.sure ? "detected: rank 1" : "not sure: no format chosen");
}

void PrintReport(const RescueReport& r, bool wrote) {
    if (r.detection) PrintDetection(*r.detection);
    if (!wrote) return;
    std::fprintf(stderr, "format: %s, frames from byte %u\n", FormatLabel(r.format).c_str(), r.alignment);
    std::fprintf(stderr, "rate: %d Hz (%s)\n", r.rate, RateOrigin(r.rateSource));
    std::fprintf(stderr, "audio: bytes %llu-%llu, %llu data bytes written\n", static_cast<unsigned long long>(r.start),
                 static_cast<unsigned long long>(r.end), static_cast<unsigned long long>(r.dataSize));
    for (const auto& c : r.changes)
        std::fprintf(stderr, "alignment: %u -> %u at byte %llu\n", c.previous, c.alignment,
                     static_cast<unsigned long long>(c.offset));
}

// Runs one rescue, printing what it found even when it refuses.
std::vector<std::string> Reported(const std::function<std::vector<std::string>(RescueReport&)>& run) {
    RescueReport report;
    try {
        std::vector<std::string> out = run(report);
        PrintReport(report, true);
        return out;
    } catch (const VelmoraError&) {
        PrintReport(report, false);
        throw;
    }
}

}  // namespace

bool HasRiffHeader(const std::string& path) {
    try {
        File f = File::OpenRead(path);
        std::uint8_t id[4] = {};
        return f.readAt(0, id, 4) == 4 && (MatchChunkId(id, "RIFF") || HasRf64Id(id));
    } catch (const VelmoraError&) {
        return false;
    }
}

int RunRescue(const std::vector<std::string>& files, const RescueArgs& args, const WriteChoice& write) {
    RescueOptions base;
    base.like = args.like;
    base.realign = args.realign;
    try {
        if (!args.rate.empty()) base.rate = ParseInteger(args.rate);
    } catch (const VelmoraError& e) {
        std::fprintf(stderr, "velmora-cli: %s\n", MessageForTerminal(e.what()).c_str());
        return kExitUsage;
    }
    if (args.channels != 0 || args.bits != 0 || args.isFloat)
        base.format = RawSampleFormat{args.channels ? args.channels : 2,
                                   EncodingOf(args.isFloat ? 32 : (args.bits ? args.bits : 16), args.isFloat)};
    FileJob job;
    job.write = write;
    job.plan = [&](const std::string& path, const WaveInfo&) {
        RescueOptions options = base;
        options.source = path;
        return std::vector<PlannedOutput>{{RescueOutputPath(options)}};
    };
    job.run = [&](const std::string& path, WaveInfo&, Host& host) {
        RescueOptions options = base;
        options.source = path;
        // A healthy header of its own tells the format of a file to realign.
        if (options.like.empty() && !options.format && options.realign && HasRiffHeader(path)) options.like = path;
        return Reported([&](RescueReport& r) { return RescueRecording(options, host, &r); });
    };
    return RunOnEach(files, job);
}

int RunDetectedRaw2Wav(const std::vector<std::string>& files, const std::string& rate, const std::string& outputDir,
                       FileJob plain, const std::optional<FileOperation>& fallback) {
    std::optional<std::int32_t> given;
    try {
        if (!rate.empty()) given = ParseInteger(rate);
    } catch (const VelmoraError& e) {
        std::fprintf(stderr, "velmora-cli: %s\n", MessageForTerminal(e.what()).c_str());
        return kExitUsage;
    }
    FileJob job = std::move(plain);
    job.run = [&](const std::string& path, WaveInfo& info, Host& host) {
        try {
            return Reported([&](RescueReport& r) { return RawToWaveDetected(path, given, outputDir, host, &r); });
        } catch (const VelmoraError& e) {
            if (!fallback || std::strcmp(e.what(), kTextFormatNotSure) != 0) throw;
            std::fprintf(stderr, "using the given format\n");
            return (*fallback)(path, info, host);
        }
    };
    return RunOnEach(files, job);
}

}  // namespace velmora::cli
