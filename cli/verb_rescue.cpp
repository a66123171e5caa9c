// What the rescue found, on stderr: the detection's ranking and the stretch
// it copied, also when it refuses.
#include <cstdio>

#include "common.h"
#include "ops/rescue.h"

namespace velmora::cli {

namespace {

// Readings shown after a detection.
constexpr std::size_t kShownGuesses = 5;

const char* RateOrigin(RateSource source) {
    switch (source) {
        case RateSource::Like: return "from --like";
        case RateSource::Header: return "from the file's header";
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
    std::fprintf(stderr, "%s\n",
                 d.sure       ? "detected: rank 1"
                 : d.notAudio ? "not audio: no reading sounds like audio"
                              : "not sure: no format chosen");
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

Plan PlanWithReport(Operation op, const Subject& s) {
    try {
        return RecordOf(op).plan(s);
    } catch (const VelmoraError&) {
        // Only a refusal is worth the second detection that shows its table.
        RescueReport report;
        try {
            if (op == Operation::Rescue) CheckRescue(RescueOptionsOf(s), &report);
            if (op == Operation::DetectRaw)
                CheckDetectedRaw(s.path, s.options.has("bits") || s.options.has("mono"), &report);
        } catch (const VelmoraError&) {
        }
        PrintReport(report, false);
        throw;
    }
}

std::vector<std::string> RunRecordWithReport(Operation op, Subject& s, Host& host) {
    switch (op) {
        case Operation::Rescue:
            return Reported([&](RescueReport& r) { return RescueRecording(RescueOptionsOf(s), host, &r); });
        case Operation::DetectRaw: return Reported([&](RescueReport& r) { return RunDetectedRaw(s, host, &r); });
        default: return RecordOf(op).run(s, host);
    }
}

}  // namespace velmora::cli
