// velmora-cli info [--json | --jsonl] FILE...
#include <algorithm>
#include <iostream>

#include <nlohmann/json.hpp>

#include "verbs.h"
#include "ops/catalogue.h"
#include "wav/error.h"
#include "wav/metadata.h"
#include "wav/records.h"

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
    };
}

// The play time in seconds, exact to the frame; null without a rate.
nlohmann::json DurationJson(const WaveInfo& w) {
    if (w.format.samplesPerSec <= 0 || w.format.blockAlign <= 0 || !w.playTimeKnown) return nullptr;
    const auto frames = static_cast<double>(w.totalSeconds()) * w.format.samplesPerSec + w.playRemainderFrames;
    return frames / w.format.samplesPerSec;
}

// The speaker of each channel: the file's channel mask, else the usual one for
// 2 to 8 channels; empty when neither names every channel.
nlohmann::json ChannelLayoutJson(const WaveInfo& w) {
    const std::uint32_t mask = w.extChannelMask != 0 ? w.extChannelMask : DefaultChannelMask(w.format.channels);
    std::vector<std::string> names = SpeakerNamesOfMask(mask);
    if (w.format.channels < 1 || names.size() < static_cast<std::size_t>(w.format.channels)) names.clear();
    names.resize(std::min<std::size_t>(names.size(), static_cast<std::size_t>(std::max<int>(w.format.channels, 0))));
    return names;
}

nlohmann::json ChunksJson(const std::vector<ChunkEntry>& chunks) {
    nlohmann::json j = nlohmann::json::array();
    for (const ChunkEntry& c : chunks)
        j.push_back(
            {{"id", c.id}, {"offset", c.offset}, {"size", c.size}, {"padded", c.padded}, {"note", ChunkNote(c)}});
    return j;
}

// A position in samples with its time at the file's rate (null without one).
nlohmann::json PositionJson(std::uint64_t samples, std::int32_t rate) {
    const std::string time = SampleTime(samples, rate);
    return {{"samples", samples}, {"time", time.empty() ? nlohmann::json(nullptr) : nlohmann::json(time)}};
}

nlohmann::json BextJson(const BextInfo& b, std::int32_t rate) {
    nlohmann::json j = {{"version", b.version},
                        {"description", b.description},
                        {"originator", b.originator},
                        {"originatorReference", b.originatorReference},
                        {"originationDate", b.originationDate},
                        {"originationTime", b.originationTime},
                        {"timeReference", PositionJson(b.timeReference, rate)},
                        {"codingHistory", b.codingHistory}};
    for (const BextLevelField& f : kBextLevelFields)
        if (b.*f.value) j[f.key] = *(b.*f.value) / 100.0;
    return j;
}

nlohmann::json IxmlJson(const IxmlInfo& x) {
    nlohmann::json j = nlohmann::json::object();
    for (const IxmlField& f : kIxmlFields)
        if (!(x.*f.text).empty()) j[f.key] = x.*f.text;
    return j;
}

nlohmann::json CuesJson(const std::vector<CuePoint>& cues, std::int32_t rate) {
    nlohmann::json j = nlohmann::json::array();
    for (const CuePoint& c : cues) {
        nlohmann::json cue = {{"id", c.id}, {"position", PositionJson(c.position, rate)}};
        if (c.length) cue["length"] = PositionJson(*c.length, rate);
        if (!c.label.empty()) cue["label"] = c.label;
        if (!c.note.empty()) cue["note"] = c.note;
        if (!c.text.empty()) cue["text"] = c.text;
        j.push_back(cue);
    }
    return j;
}

nlohmann::json LoopsJson(const SamplerInfo& s, std::int32_t rate) {
    nlohmann::json j = nlohmann::json::array();
    for (const SampleLoop& l : s.loops)
        j.push_back({{"id", l.id},
                     {"type", l.type},
                     {"start", PositionJson(l.start, rate)},
                     {"end", PositionJson(l.end, rate)},
                     {"fraction", l.fraction},
                     {"playCount", l.playCount}});
    return j;
}

// The descriptive chunks: a key for each kind the file has, full texts;
// null for a file with none.
nlohmann::json MetadataJson(const Metadata& m) {
    if (m.empty()) return nullptr;
    const std::int32_t rate = m.context.samplesPerSec;
    nlohmann::json j = nlohmann::json::object();
    if (m.bext) j["bext"] = BextJson(*m.bext, rate);
    if (m.ixml) j["ixml"] = IxmlJson(*m.ixml);
    if (!m.info.empty()) {
        j["info"] = nlohmann::json::object();
        for (const InfoField& f : m.info) j["info"][f.id] = f.text;
    }
    if (!m.cues.empty()) j["cues"] = CuesJson(m.cues, rate);
    if (m.sampler) {
        j["sampler"] = {{"unityNote", m.sampler->unityNote},
                        {"pitchFraction", m.sampler->pitchFraction},
                        {"samplePeriod", m.sampler->samplePeriod}};
        j["loops"] = LoopsJson(*m.sampler, rate);
    }
    if (const auto& i = m.instrument)
        j["instrument"] = {{"unshiftedNote", i->unshiftedNote},
                           {"fineTune", i->fineTune},
                           {"gain", i->gain},
                           {"lowNote", i->lowNote},
                           {"highNote", i->highNote},
                           {"lowVelocity", i->lowVelocity},
                           {"highVelocity", i->highVelocity}};
    if (!m.notes.empty()) j["notes"] = m.notes;
    return j;
}

// Why each operation that is not offered is not.
nlohmann::json WhyJson(const OperationReasons& reasons) {
    nlohmann::json j = nlohmann::json::object();
    for (Operation op : kAllOperations)
        if (WhyNotCode(reasons, op) != Reason::None)
            j[OperationName(op)] = {{"code", ReasonId(WhyNotCode(reasons, op))}, {"text", WhyNot(reasons, op)}};
    return j;
}

nlohmann::json EnabledJson(const std::optional<OperationSet>& allowed) {
    nlohmann::json j = nlohmann::json::object();
    for (Operation op : kAllOperations) j[OperationName(op)] = allowed && allowed->contains(op);
    return j;
}

}  // namespace

std::string JsonMessage(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string JsonText(const nlohmann::json& j, int indent, std::size_t extraIndent) {
    const std::string text = j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) * extraIndent);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The dump is valid UTF-8, so 0xC2 always leads a two-byte sequence.
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == '\n') {
            out += '\n';
            out.append(extraIndent, ' ');
        } else if (c == 0x7F) {
            out += "\\u007f";
        } else if (c == 0xC2 && (next & 0xE0) == 0x80) {
            out += "\\u00";
            out += kHex[next >> 4];
            out += kHex[next & 0xF];
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

// Every key of a file's object; the man page lists them.
nlohmann::json InfoJson(const std::string& path, bool complete, const std::vector<std::string>& messages,
                        const WaveInfo& info, const AnalysisResult& result, const nlohmann::json& error) {
    std::vector<std::string> lines;
    for (const auto& m : messages) lines.push_back(JsonMessage(m));
    return {
        {"path", path},
        {"complete", complete},
        {"messages", lines},
        {"durationSeconds", complete ? DurationJson(info) : nullptr},
        {"channelLayout", complete ? ChannelLayoutJson(info) : nlohmann::json::array()},
        {"waveInfo", WaveInfoJson(info)},
        {"headerSize", result.headerSize},
        {"fileSizeOK", result.fileSizeOK},
        {"footerOK", result.footerOK},
        {"report", result.report.value_or(std::vector<std::string>{})},
        {"hexDump", result.hexDump.value_or(std::vector<std::string>{})},
        {"enabled", EnabledJson(AllowedOperations(info, result))},
        {"why", WhyJson(WhyNotOffered(info, result))},
        {"chunks", ChunksJson(result.chunks)},
        {"metadata", complete ? MetadataJson(result.metadata) : nullptr},
        {"error", error},
    };
}

int RunInfo(const std::vector<std::string>& files, InfoForm form) {
    int status = kExitOk;
    bool first = true;
    // --json: one array, streamed so thousands of files need no memory.
    if (form == InfoForm::Json) std::cout << '[';
    for (const auto& path : files) {
        WaveInfo info;  // each file on its own, as a fresh start of the window
        AnalysisResult result;
        std::vector<std::string> messages;
        bool opened = true;
        nlohmann::json error = nullptr;  // a file that could not be opened or read: its code and text
        try {
            result = AnalyzeWave(path, info);
            messages = result.messages;
            if (result.failure) messages.push_back(*result.failure);
        } catch (const VelmoraError& e) {
            opened = false;
            messages.emplace_back(ErrorText(e));
            error = {{"code", ErrorCodeOf(e.what())}, {"text", JsonMessage(ErrorText(e))}};
        }
        if (!opened || !result.complete()) status = kExitFailed;

        if (form != InfoForm::Text) {
            const nlohmann::json j = InfoJson(path, opened && result.complete(), messages, info, result, error);
            if (form == InfoForm::JsonLines)
                std::cout << JsonText(j, -1, 0) << '\n';
            else
                std::cout << (first ? "\n  " : ",\n  ") << JsonText(j, 2, 2);  // indented by two inside the array
            first = false;
            continue;
        }

        for (const auto& m : messages) PrintAbout(path, m);
        if (files.size() > 1) {
            if (!first) std::cout << '\n';
            std::cout << "==> " << TerminalText(path) << " <==\n";
        }
        first = false;
        if (result.report || result.hexDump) {
            for (const auto& line : result.report.value_or(std::vector<std::string>{}))
                std::cout << TerminalText(line) << '\n';
            std::cout << '\n';
            for (const auto& line : result.hexDump.value_or(std::vector<std::string>{})) std::cout << line << '\n';
        }
    }
    if (form == InfoForm::Json) std::cout << (first ? "]\n" : "\n]\n");
    std::cout.flush();
    return status;
}

}  // namespace

void RegisterInfo(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "info", "Analyse each FILE: the report, then the hex dump of its header; messages on stderr");
    auto files = std::make_shared<std::vector<std::string>>();
    auto json = std::make_shared<bool>(false);
    auto jsonl = std::make_shared<bool>(false);
    cmd->add_option("FILE", *files, "WAV files to analyse")->required();
    auto* jsonFlag = cmd->add_flag("--json", *json, "One JSON array with an object per file (keys: see the man page)");
    cmd->add_flag("--jsonl", *jsonl, "One compact JSON object per file per line, for many files")->excludes(jsonFlag);
    cmd->callback([&action, files, json, jsonl] {
        action = [files, json, jsonl] {
            return RunInfo(*files, *json ? InfoForm::Json : *jsonl ? InfoForm::JsonLines : InfoForm::Text);
        };
    });
}

}  // namespace velmora::cli
