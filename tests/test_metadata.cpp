// The descriptive chunks through velmora-cli info: files built from bytes,
// each with the report lines and JSON values its chunks give, and files
// written by ffmpeg and sox, read alike by ffprobe and mediainfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "metadata_chunks.h"

using namespace velmora::test;
using nlohmann::json;

namespace {

WavBuilder Stereo8k() {
    WavBuilder b;
    b.samplesPerSec = 8000;
    b.samples = PatternSamples(8000 + 17, 2, 2);
    return b;
}

struct Case {
    const char* name;
    Bytes chunks;                                      // between the format chunk and the data
    std::vector<std::string> lines;                    // in the report's metadata section
    std::vector<std::pair<const char*, json>> values;  // JSON pointer under "metadata", value
};

// "日本語" in code page 932, as Japanese software writes INFO text.
const Bytes kShiftJis = {0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA};

std::vector<Case> Cases() {
    Bytes sjis = kShiftJis;
    AppendBytes(sjis, TextBytes(" take1"));
    const std::string longComment(70, 'c');
    const std::string ixml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><BWFXML><PROJECT>Harbour</PROJECT><SCENE>12A</SCENE>"
        "<TAKE>3</TAKE><TAPE>DAY2</TAPE><NOTE>wind &amp; gulls</NOTE><SPEED><MASTER_SPEED>25/1</MASTER_SPEED>"
        "<TIMECODE_RATE>25/1</TIMECODE_RATE><TIMECODE_FLAG>NDF</TIMECODE_FLAG></SPEED></BWFXML>";
    Bytes cues = CueChunk({{1, 4000}, {2, 8000}});
    AppendBytes(cues, ListOf("adtl", {CueText("labl", 1, "Intro"), CueText("note", 1, "check level"),
                                      CueText("labl", 2, "Verse"), RegionText(2, 16, "chorus region")}));
    Bytes loops = SmplChunk(60, {{1, 0, 100, 7999, 0}, {2, 1, 8000, 8016, 3}});
    AppendBytes(loops, InstChunk({60, -5, 3, 0, 127, 1, 127}));
    Bext v2;
    v2.description = "Field recording";
    v2.originator = "Velmora";
    v2.reference = "REF-9";
    v2.date = "2023-11-30";
    v2.time = "23:59:58";
    v2.history = "A=PCM,F=8000\r\nA=PCM,F=8000,W=16\r\n";
    v2.timeReference = 8000 * 3661 + 4;
    v2.version = 2;
    v2.loudness = {-2300, 500, -100, 0x7FFF, -1800};
    return {
        {"cues",
         cues,
         {"マーカー 1 位置: 4,000 (00:00:00.500) ラベル: Intro メモ: check level",
          "リージョン 2 位置: 8,000 (00:00:01.000) 長さ: 16 (00:00:00.002) ラベル: Verse テキスト: chorus region"},
         {{"/cues/0/position/samples", 4000},
          {"/cues/0/note", "check level"},
          {"/cues/1/length/time", "00:00:00.002"},
          {"/cues/1/text", "chorus region"}}},
        {"loops",
         loops,
         {"smpl 基準ノート: 60 微調整: 0/2^32",
          "ループ 1 開始: 100 (00:00:00.012) 終了: 7,999 (00:00:00.999) 順方向 回数: 無限",
          "ループ 2 開始: 8,000 (00:00:01.000) 終了: 8,016 (00:00:01.002) 往復 回数: 3",
          "inst 基準ノート: 60 微調整: -5セント ゲイン: 3dB ノート範囲: 0-127 ベロシティ範囲: 1-127"},
         {{"/loops/1/playCount", 3}, {"/loops/0/end/samples", 7999}, {"/instrument/fineTune", -5}}},
        {"ixml",
         PaddedChunk("iXML",
                     [&] {
                         Bytes b = TextBytes(ixml);
                         b.resize(b.size() + 64, 0);  // NUL padding, as recorders leave it
                         return b;
                     }()),
         {"iXML プロジェクト: Harbour", "iXML シーン: 12A", "iXML テイク: 3", "iXML テープ: DAY2",
          "iXML メモ: wind & gulls", "iXML 速度: 25/1", "iXML タイムコード: 25/1", "iXML タイムコード種別: NDF"},
         {{"/ixml/scene", "12A"}, {"/ixml/note", "wind & gulls"}, {"/ixml/timecodeFlag", "NDF"}}},
        {"shiftJisAndLongInfo",
         ListOf("INFO", {TextField("INAM", sjis), TextField("IART", TextBytes("Ünïcode")),
                         TextField("ICMT", TextBytes("first line\r\n" + longComment))}),
         {"INFO INAM: 日本語 take1", "INFO IART: Ünïcode", "INFO ICMT: first line " + std::string(48, 'c') + "…"},
         {{"/info/INAM", "日本語 take1"}, {"/info/ICMT", "first line\r\n" + longComment}}},
        {"bextVersion2",
         v2.Build(),
         {"bext バージョン: 2", "bext 説明: Field recording", "bext 作成者: Velmora", "bext 作成者参照: REF-9",
          "bext 作成日時: 2023-11-30 23:59:58", "bext タイムリファレンス: 29,288,004 (01:01:01.000)",
          "bext ラウドネス -23.00LUFS レンジ 5.00LU 最大トゥルーピーク -1.00dBTP 最大ショートターム -18.00LUFS",
          "bext コーディング履歴: A=PCM,F=8000 A=PCM,F=8000,W=16"},
         {{"/bext/loudnessValue", -23.0},
          {"/bext/originatorReference", "REF-9"},
          {"/bext/timeReference/samples", 29288004},
          {"/bext/codingHistory", "A=PCM,F=8000\r\nA=PCM,F=8000,W=16\r\n"}}},
    };
}

// The lines of the report from "** メタデータ **" on.
std::vector<std::string> Section(const json& report) {
    std::vector<std::string> lines = report.get<std::vector<std::string>>();
    const auto at = std::find(lines.begin(), lines.end(), "** メタデータ **");
    return at == lines.end() ? std::vector<std::string>{} : std::vector<std::string>(at + 1, lines.end());
}

json Info(const std::string& path, const TempDir& dir) {
    const CliRun r = RunCli("info --jsonl " + Quote(path), dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
}

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0; }

json ToolJson(const std::string& command, const TempDir& dir) {
    const CliRun r = RunShell(command, dir);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    return json::parse(r.out);
}

}  // namespace

TEST(Metadata, BuiltChunksGiveTheirLinesAndValues) {
    TempDir dir;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        WavBuilder b = Stereo8k();
        b.betweenFmtAndData = c.chunks;
        const json j = Info(dir.write(std::string(c.name) + ".wav", b.Build()), dir);
        EXPECT_EQ(Section(j["report"]), c.lines);
        EXPECT_FALSE(j["metadata"].contains("notes")) << j["metadata"].dump();
        for (const auto& [pointer, value] : c.values)
            EXPECT_EQ(j["metadata"].value(json::json_pointer(pointer), json()), value) << pointer;
    }
}

TEST(Metadata, FileWithoutItHasNoSectionAndNull) {
    TempDir dir;
    const json j = Info(dir.write("plain.wav", Stereo8k().Build()), dir);
    EXPECT_TRUE(j["metadata"].is_null());
    EXPECT_TRUE(Section(j["report"]).empty());
    EXPECT_EQ(j["report"].size(), 16u);
}

// ffmpeg's bext, read by us, ffprobe and mediainfo.
TEST(Metadata, FfmpegBextAgreesWithFfprobeAndMediainfo) {
    if (!Have("ffmpeg") || !Have("ffprobe") || !Have("mediainfo")) GTEST_SKIP() << "ffmpeg or mediainfo missing";
    TempDir dir;
    const std::string path = dir.file("bext.wav");
    const CliRun made = RunShell(
        "ffmpeg -v error -f lavfi -i sine=d=1:sample_rate=48000 -write_bext 1 -metadata 'description=Scene 4 take 2' "
        "-metadata 'originator=Velmora Test' -metadata originator_reference=REF12345 -metadata "
        "origination_date=2024-05-06 -metadata origination_time=07:08:09 -metadata time_reference=172800000 "
        "-metadata coding_history=A=PCM,F=48000,W=16,M=mono " +
            Quote(path),
        dir);
    ASSERT_EQ(made.status, 0) << made.err;
    const json ours = Info(path, dir)["metadata"];
    const json probe = ToolJson("ffprobe -v error -show_format -of json " + Quote(path), dir)["format"]["tags"];
    const json media = ToolJson("mediainfo --Output=JSON " + Quote(path), dir)["media"]["track"];
    const json& bext = ours["bext"];
    EXPECT_EQ(bext["description"], probe["comment"]);
    EXPECT_EQ(bext["description"], media[0]["Description"]);
    EXPECT_EQ(bext["originator"], probe["encoded_by"]);
    EXPECT_EQ(bext["originator"], media[0]["Producer"]);
    EXPECT_EQ(bext["originatorReference"], probe["originator_reference"]);
    EXPECT_EQ(bext["originatorReference"], media[0]["extra"]["Producer_Reference"]);
    EXPECT_EQ(bext["originationDate"], probe["date"]);
    EXPECT_EQ(bext["originationTime"], probe["creation_time"]);
    EXPECT_EQ(bext["originationDate"].get<std::string>() + " " + bext["originationTime"].get<std::string>(),
              media[0]["Encoded_Date"]);
    EXPECT_EQ(std::to_string(bext["timeReference"]["samples"].get<long long>()), probe["time_reference"]);
    // mediainfo gives the time reference as a delay in seconds.
    const double delay = std::stod(media[1]["Delay"].get<std::string>());
    EXPECT_EQ(bext["timeReference"]["time"], "01:00:00.000");
    EXPECT_DOUBLE_EQ(delay, bext["timeReference"]["samples"].get<double>() / 48000);
    EXPECT_EQ(bext["codingHistory"], probe["coding_history"]);
    EXPECT_EQ(bext["codingHistory"], media[0]["Encoded_Library_Settings"]);
    EXPECT_EQ(std::to_string(bext["version"].get<int>()), media[0]["extra"]["bext_Version"]);
    EXPECT_EQ(ours["info"]["ISFT"], probe["encoder"]);
}

// INFO tags as ffmpeg writes them, and sox's comment (which sox keeps out of
// WAV files): the same fields as ffprobe and mediainfo find.
TEST(Metadata, InfoTagsOfFfmpegAndSoxAgreeWithFfprobeAndMediainfo) {
    if (!Have("ffmpeg") || !Have("sox") || !Have("mediainfo")) GTEST_SKIP() << "ffmpeg, sox or mediainfo missing";
    TempDir dir;
    const std::string ff = dir.file("ff.wav");
    const std::string sx = dir.file("sox.wav");
    ASSERT_EQ(RunShell("ffmpeg -v error -f lavfi -i sine=d=0.5 -metadata 'title=Morning Take' -metadata "
                       "'artist=The Testers' -metadata 'comment=second pass' " +
                           Quote(ff),
                       dir)
                  .status,
              0);
    ASSERT_EQ(
        RunShell("sox -n -r 8000 -b 16 --comment 'recorded by sox' " + Quote(sx) + " synth 0.2 sine 300", dir).status,
        0);
    const json info = Info(ff, dir)["metadata"]["info"];
    const json probe = ToolJson("ffprobe -v error -show_format -of json " + Quote(ff), dir)["format"]["tags"];
    const json media = ToolJson("mediainfo --Output=JSON " + Quote(ff), dir)["media"]["track"][0];
    const std::pair<const char*, const char*> fields[] = {{"INAM", "title"}, {"IART", "artist"}, {"ICMT", "comment"}};
    for (const auto& [id, tag] : fields) EXPECT_EQ(info[id], probe[tag]) << id;
    EXPECT_EQ(info["INAM"], media["Title"]);
    EXPECT_EQ(info["ICMT"], media["Comment"]);
    EXPECT_EQ(info["ISFT"], media["Encoded_Application"]);
    EXPECT_EQ(info.size(), probe.size());

    const json soxProbe = ToolJson("ffprobe -v error -show_format -of json " + Quote(sx), dir)["format"];
    const json soxMedia = ToolJson("mediainfo --Output=JSON " + Quote(sx), dir)["media"]["track"][0];
    EXPECT_TRUE(Info(sx, dir)["metadata"].is_null());
    EXPECT_FALSE(soxProbe.contains("tags"));
    EXPECT_FALSE(soxMedia.contains("Comment"));
}

// Cue points built from bytes: ffprobe gives them as chapters, a labl as the
// chapter's title; an ASCII INFO field as ffprobe's and mediainfo's tag.
// (Both read INFO text as bytes or Latin-1, so only ASCII is compared.)
TEST(Metadata, BuiltCuesAndInfoAgreeWithFfprobeAndMediainfo) {
    if (!Have("ffprobe") || !Have("mediainfo")) GTEST_SKIP() << "ffprobe or mediainfo missing";
    TempDir dir;
    WavBuilder b = Stereo8k();
    b.betweenFmtAndData = CueChunk({{1, 4000}, {2, 6000}, {3, 8000}});
    AppendBytes(b.betweenFmtAndData, ListOf("adtl", {CueText("labl", 1, "Intro"), CueText("labl", 3, "Outro")}));
    AppendBytes(b.betweenFmtAndData, ListOf("INFO", {TextField("INAM", TextBytes("Built title"))}));
    const std::string path = dir.write("cues.wav", b.Build());
    const json ours = Info(path, dir)["metadata"];
    const json chapters = ToolJson("ffprobe -v error -show_chapters -show_format -of json " + Quote(path), dir);
    const json media = ToolJson("mediainfo --Output=JSON " + Quote(path), dir)["media"]["track"][0];
    ASSERT_EQ(ours["cues"].size(), chapters["chapters"].size());
    for (std::size_t i = 0; i < ours["cues"].size(); ++i) {
        const json& cue = ours["cues"][i];
        const json& chapter = chapters["chapters"][i];
        EXPECT_EQ(cue["position"]["samples"], chapter["start"]) << i;
        EXPECT_EQ(chapter["time_base"], "1/8000");
        EXPECT_EQ(cue.value("label", ""), chapter.value("tags", json::object()).value("title", "")) << i;
    }
    EXPECT_EQ(ours["info"]["INAM"], chapters["format"]["tags"]["title"]);
    EXPECT_EQ(ours["info"]["INAM"], media["Title"]);
}
