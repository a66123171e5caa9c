// velmora-cli levels [--json | --jsonl] FILE...
#include <cmath>
#include <cstdio>
#include <iostream>

#include "ops/catalogue.h"
#include "ops/levels.h"
#include "verbs.h"

namespace velmora::cli {

namespace {

// A level in dB as the terminal shows it; silence is -inf.
std::string DbText(double db, const char* format) {
    if (!std::isfinite(db)) return "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, format, db);
    return buf;
}

// A level in dB for JSON: null for silence (JSON has no infinity).
nlohmann::json DbJson(double db) { return std::isfinite(db) ? nlohmann::json(db) : nlohmann::json(nullptr); }

nlohmann::json LevelsJson(const std::string& path, const Levels* levels, const nlohmann::json& error) {
    nlohmann::json channels = nlohmann::json::array();
    if (levels)
        for (std::size_t c = 0; c < levels->channels.size(); ++c) {
            const ChannelLevels& l = levels->channels[c];
            channels.push_back({{"channel", c + 1},
                                {"speaker", l.speaker},
                                {"samplePeak", DbJson(Decibels(l.samplePeak))},
                                {"truePeak", DbJson(Decibels(l.truePeak))},
                                {"rms", DbJson(Decibels(l.rms))}});
        }
    return {
        {"path", path},
        {"channels", channels},
        {"integrated", levels ? DbJson(levels->integrated) : nullptr},
        {"range", levels ? DbJson(levels->range) : nullptr},
        {"momentaryMax", levels ? DbJson(levels->momentaryMax) : nullptr},
        {"shortTermMax", levels ? DbJson(levels->shortTermMax) : nullptr},
        {"error", error},
    };
}

void PrintLevels(const Levels& levels) {
    char line[160];
    std::snprintf(line, sizeof line, "%3s  %-18s %10s %10s %10s\n", "ch", "speaker", "peak", "true peak", "RMS");
    std::cout << line;
    for (std::size_t c = 0; c < levels.channels.size(); ++c) {
        const ChannelLevels& l = levels.channels[c];
        std::snprintf(line, sizeof line, "%3zu  %-18s %5s dBFS %5s dBTP %5s dBFS\n", c + 1, l.speaker.c_str(),
                      DbText(Decibels(l.samplePeak), "%.2f").c_str(), DbText(Decibels(l.truePeak), "%.2f").c_str(),
                      DbText(Decibels(l.rms), "%.2f").c_str());
        std::cout << line;
    }
    const auto row = [&](const char* name, double value, const char* unit) {
        std::snprintf(line, sizeof line, "%-20s %6s %s\n", name, DbText(value, "%.1f").c_str(), unit);
        std::cout << line;
    };
    row("integrated loudness", levels.integrated, "LUFS");
    row("loudness range", levels.range, "LU");
    row("momentary max", levels.momentaryMax, "LUFS");
    row("short-term max", levels.shortTermMax, "LUFS");
}

// Measures one file: its levels, or the error (code and text) that stopped it,
// already printed on stderr.
std::optional<Levels> MeasureOne(const std::string& path, nlohmann::json& error) {
    CliHost host(path);
    WaveInfo info;
    AnalysisResult result;
    try {
        if (!AnalyseForOperation(path, info, result)) {
            // An analysis that stopped gives every operation the same reason.
            const Refusal why = WhyNotOffered(info, result)[0];
            error = {{"code", ReasonId(why.code)}, {"text", JsonMessage(why.text)}};
            return std::nullopt;
        }
        const Refusal why = LevelsRule(info, result);
        if (why.code != Reason::None) {
            PrintAbout(path, "levels: " + why.text);
            error = {{"code", ReasonId(why.code)}, {"text", JsonMessage(why.text)}};
            return std::nullopt;
        }
        host.setDuration(PlaySeconds(info));
        Levels levels = MeasureLevels(path, info, result, host);
        host.finishProgress();
        return levels;
    } catch (const VelmoraError& e) {
        host.finishProgress();
        PrintAbout(path, ErrorText(e));
        error = {{"code", ErrorCodeOf(e.what())}, {"text", JsonMessage(ErrorText(e))}};
        return std::nullopt;
    }
}

int RunLevels(const std::vector<std::string>& files, InfoForm form) {
    int status = kExitOk;
    bool first = true;
    if (form == InfoForm::Json) std::cout << '[';
    for (const auto& path : files) {
        nlohmann::json error = nullptr;
        const std::optional<Levels> levels = MeasureOne(path, error);
        if (!levels) status = kExitFailed;
        if (form != InfoForm::Text) {
            const nlohmann::json j = LevelsJson(path, levels ? &*levels : nullptr, error);
            if (form == InfoForm::JsonLines)
                std::cout << JsonText(j, -1, 0) << '\n';
            else
                std::cout << (first ? "\n  " : ",\n  ") << JsonText(j, 2, 2);
            first = false;
            std::cout.flush();
            continue;
        }
        if (files.size() > 1) {
            if (!first) std::cout << '\n';
            std::cout << "==> " << TerminalText(path) << " <==\n";
        }
        first = false;
        if (levels) PrintLevels(*levels);
        std::cout.flush();
    }
    if (form == InfoForm::Json) std::cout << (first ? "]\n" : "\n]\n");
    std::cout.flush();
    return status;
}

}  // namespace

void RegisterLevels(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("levels",
                                   "Measure each FILE, reading it once: per channel the sample peak (dBFS), the true "
                                   "peak (dBTP, 4x oversampled) and the RMS (dBFS); the integrated loudness (LUFS, "
                                   "gated), the loudness range (LU) and the momentary and short-term maxima (LUFS)");
    auto files = std::make_shared<std::vector<std::string>>();
    auto json = std::make_shared<bool>(false);
    auto jsonl = std::make_shared<bool>(false);
    cmd->add_option("FILE", *files, "WAV files to measure")->required();
    auto* jsonFlag =
        cmd->add_flag("--json", *json, "One JSON array with an object per file, levels in dB, null for silence");
    cmd->add_flag("--jsonl", *jsonl, "One compact JSON object per file per line")->excludes(jsonFlag);
    cmd->callback([&action, files, json, jsonl] {
        action = [files, json, jsonl] {
            return RunLevels(*files, *json ? InfoForm::Json : *jsonl ? InfoForm::JsonLines : InfoForm::Text);
        };
    });
}

}  // namespace velmora::cli
