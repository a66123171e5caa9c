// velmora-cli info [--json] FILE...
#include <iostream>

#include <nlohmann/json.hpp>

#include "verbs.h"
#include "wav/error.h"

namespace velmora::cli {

namespace {

nlohmann::json WaveInfoJson(const WaveInfo& w) {
    return {
        {"riffId", FourCCToString(w.riff.riffId)},
        {"riffSize", w.riffSize},
        {"waveId", FourCCToString(w.riff.waveId)},
        {"fmtId", FourCCToString(w.format.fmtId)},
        {"fmtSize", w.format.fmtSize},
        {"formatTag", w.format.formatTag},
        {"channels", w.format.channels},
        {"samplesPerSec", w.format.samplesPerSec},
        {"avgBytesPerSec", w.format.avgBytesPerSec},
        {"blockAlign", w.format.blockAlign},
        {"bitsPerSample", w.format.bitsPerSample},
        {"dataId", FourCCToString(w.data.dataId)},
        {"dataSize", w.dataSize},
        {"validBits", w.validBits},
        {"channelMask", w.channelMask},
        {"subFormatTag", w.subFormatTag},
        {"fileSize", w.fileSize},
        {"riffSizeExcess", w.riffSizeExcess},
        {"computedDataSize", w.computedDataSize},
        {"playHours", w.playHours},
        {"playMinutes", w.playMinutes},
        {"playSeconds", w.playSeconds},
        {"playRemainderFrames", w.playRemainderFrames},
        {"dataChunkPos", w.dataChunkPos},
        {"fmtChunkPos", w.fmtChunkPos},
        {"footerSize", w.footerSize},
        {"listFooterSize", w.listFooterSize},
        {"extChannelMask", w.extChannelMask},
        // Kept for scripts that read every key; nothing fills it any more.
        {"droppedFileName", ""},
    };
}

nlohmann::json ChunksJson(const std::vector<ChunkEntry>& chunks) {
    nlohmann::json j = nlohmann::json::array();
    for (const ChunkEntry& c : chunks)
        j.push_back({{"id", c.id}, {"offset", c.offset}, {"size", c.size}, {"padded", c.padded}, {"note", ChunkNote(c)}});
    return j;
}

nlohmann::json WhyJson(const OperationReasons& reasons) {
    nlohmann::json j = nlohmann::json::object();
    for (Operation op : kAllOperations)
        if (!WhyNot(reasons, op).empty()) j[OperationName(op)] = WhyNot(reasons, op);
    return j;
}

nlohmann::json EnabledJson(const std::optional<OperationSet>& allowed) {
    nlohmann::json j = nlohmann::json::object();
    for (Operation op : kAllOperations) j[OperationName(op)] = allowed && allowed->contains(op);
    return j;
}

int RunInfo(const std::vector<std::string>& files, bool json) {
    int status = kExitOk;
    bool first = true;
    for (const auto& path : files) {
        WaveInfo info;  // each file on its own, as a fresh start of the window
        AnalysisResult result;
        std::vector<std::string> messages;
        bool opened = true;
        try {
            result = AnalyzeWave(path, info);
            messages = result.messages;
            if (result.failure) messages.push_back(*result.failure);
        } catch (const VelmoraError& e) {
            opened = false;
            messages.emplace_back(e.what());
        }
        if (!opened || !result.complete()) status = kExitFailed;

        if (json) {
            nlohmann::json j = {
                {"path", path},
                {"complete", opened && result.complete()},
                {"messages", messages},
                {"waveInfo", WaveInfoJson(info)},
                {"headerSize", result.headerSize},
                {"fileSizeOK", result.fileSizeOK},
                {"footerOK", result.footerOK},
                {"report", result.report.value_or(std::vector<std::string>{})},
                {"hexDump", result.hexDump.value_or(std::vector<std::string>{})},
                {"enabled", EnabledJson(AllowedOperations(info, result))},
                {"why", WhyJson(WhyNotOffered(info, result))},
                {"chunks", ChunksJson(result.chunks)},
            };
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            continue;
        }

        for (const auto& m : messages) PrintError(m);
        if (files.size() > 1) {
            if (!first) std::cout << '\n';
            std::cout << "==> " << path << " <==\n";
        }
        first = false;
        if (result.report || result.hexDump) {
            for (const auto& line : result.report.value_or(std::vector<std::string>{})) std::cout << line << '\n';
            std::cout << '\n';
            for (const auto& line : result.hexDump.value_or(std::vector<std::string>{})) std::cout << line << '\n';
        }
    }
    std::cout.flush();
    return status;
}

}  // namespace

void RegisterInfo(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("info", "Analyse each FILE: the report, then the hex dump of its header");
    auto files = std::make_shared<std::vector<std::string>>();
    auto json = std::make_shared<bool>(false);
    cmd->add_option("FILE", *files, "WAV files to analyse")->required();
    cmd->add_flag("--json", *json, "One JSON object per file per line");
    cmd->callback([&action, files, json] { action = [files, json] { return RunInfo(*files, *json); }; });
}

}  // namespace velmora::cli
