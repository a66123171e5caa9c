#include "wav/metadata.h"

#include <pugixml.hpp>

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "io/file.h"
#include "wav/bytes.h"
#include "wav/text.h"

namespace velmora {

namespace {

using Body = std::vector<std::uint8_t>;

// The fixed part of a bext chunk before the coding history.
constexpr std::size_t kBextFixed = 602;
constexpr std::size_t kCuePointSize = 24;
constexpr std::size_t kSmplFixed = 36;
constexpr std::size_t kLoopSize = 24;
constexpr std::size_t kInstSize = 7;
// bext version 2 writes this where a loudness value was not measured.
constexpr std::int16_t kLoudnessUnset = 0x7FFF;

// A chunk id for the report: its printable characters, the rest escaped.
std::string IdText(const std::uint8_t* p) {
    std::string id;
    for (int i = 0; i < 4; ++i)
        id += p[i] >= 0x20 && p[i] < 0x7F ? std::string(1, static_cast<char>(p[i]))
                                          : Format("\\x%02X", static_cast<unsigned>(p[i]));
    return id;
}

struct Reader {
    File& file;
    Metadata& m;
    std::uint64_t budget = kMetadataTotalCap;
    std::unordered_set<std::string> infoIds;

    // Notes stop at a cap: a hostile chunk could otherwise give one per byte.
    void note(const std::string& text) {
        if (m.notes.size() < kMetadataNoteCap)
            m.notes.push_back(text);
        else if (m.notes.size() == kMetadataNoteCap)
            m.notes.emplace_back("これ以降の注意は省略しました");
    }

    // The chunk's body as far as it lies in the file, under the caps;
    // nullopt once the reading budget of the file is spent.
    std::optional<Body> body(const ChunkEntry& c) {
        if (budget == 0) {
            note(c.id + "チャンクは読める量を超えたため読みませんでした");
            return std::nullopt;
        }
        const std::uint64_t have = c.size - std::min(c.size, c.overrun);
        if (c.overrun != 0)
            note(c.id + "チャンクがファイルの終わりを " + GroupThousands(c.overrun) + "Byte 越えています");
        const std::uint64_t take = std::min({have, kMetadataBodyCap, budget});
        if (take < have) note(c.id + "チャンクは先頭の " + GroupThousands(take) + "Byte だけ読みました");
        budget -= take;
        Body b(static_cast<std::size_t>(take));
        b.resize(file.readAt(c.bodyStart(), b.data(), b.size()));
        return b;
    }

    // A text field; one that is no known encoding gets a note.
    std::string text(const std::uint8_t* p, std::size_t n, const std::string& what) {
        bool escaped = false;
        std::string t = DecodeChunkText(p, n, &escaped);
        if (escaped) note(what + "は文字コードが不明のためエスケープして表示します");
        return t;
    }
};

// The form type of a LIST chunk, or empty when its body has none.
std::string ListForm(File& file, const ChunkEntry& c) {
    std::uint8_t form[4];
    if (c.size < 4 || c.overrun + 4 > c.size || file.readAt(c.bodyStart(), form, 4) != 4) return {};
    return std::string(reinterpret_cast<const char*>(form), 4);
}

void ReadBext(Reader& rd, const Body& body) {
    Body b = body;
    if (b.size() < kBextFixed) {
        rd.note(Format("bextチャンクが %zuByte しかありません(固定部は602Byte)", b.size()));
        b.resize(kBextFixed, 0);
    }
    BextInfo x;
    x.description = rd.text(b.data(), 256, "bextの説明");
    x.originator = rd.text(b.data() + 256, 32, "bextの作成者");
    x.originatorReference = rd.text(b.data() + 288, 32, "bextの作成者参照");
    x.originationDate = rd.text(b.data() + 320, 10, "bextの作成日");
    x.originationTime = rd.text(b.data() + 330, 8, "bextの作成時刻");
    x.timeReference = GetU64(b.data() + 338);
    x.version = GetU16(b.data() + 346);
    if (x.version >= 2) {
        std::optional<std::int16_t>* levels[] = {&x.loudnessValue, &x.loudnessRange, &x.maxTruePeakLevel,
                                                 &x.maxMomentaryLoudness, &x.maxShortTermLoudness};
        for (std::size_t i = 0; i < 5; ++i) {
            const std::int16_t v = GetI16(b.data() + 412 + 2 * i);
            if (v != kLoudnessUnset) *levels[i] = v;
        }
    }
    if (body.size() > kBextFixed)
        x.codingHistory = rd.text(body.data() + kBextFixed, body.size() - kBextFixed, "bextのコーディング履歴");
    rd.m.bext = x;
}

// The text of an element below `parent`, or empty.
std::string XmlText(Reader& rd, const pugi::xml_node& parent, const char* name) {
    const char* value = parent.child(name).child_value();
    return rd.text(reinterpret_cast<const std::uint8_t*>(value), std::char_traits<char>::length(value),
                   std::string("iXMLの") + name);
}

void ReadIxml(Reader& rd, const Body& body) {
    // Writers pad the document with NULs (and blanks) to a fixed size.
    std::size_t n = body.size();
    while (n > 0 && (body[n - 1] == 0 || body[n - 1] == ' ' || body[n - 1] == '\n' || body[n - 1] == '\r')) --n;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(body.data(), n);
    if (!parsed) {
        rd.note(
            Format("iXMLを解析できません(%s、位置 %lld)", parsed.description(), static_cast<long long>(parsed.offset)));
        return;
    }
    const pugi::xml_node root = doc.document_element();
    if (std::string(root.name()) != "BWFXML") rd.note("iXMLの最上位の要素が BWFXML ではありません");
    IxmlInfo x;
    x.project = XmlText(rd, root, "PROJECT");
    x.scene = XmlText(rd, root, "SCENE");
    x.take = XmlText(rd, root, "TAKE");
    x.tape = XmlText(rd, root, "TAPE");
    x.note = XmlText(rd, root, "NOTE");
    const pugi::xml_node speed = root.child("SPEED");
    x.masterSpeed = XmlText(rd, speed, "MASTER_SPEED");
    x.timecodeRate = XmlText(rd, speed, "TIMECODE_RATE");
    x.timecodeFlag = XmlText(rd, speed, "TIMECODE_FLAG");
    rd.m.ixml = x;
}

// Each sub-chunk of a LIST body (after its form type), within the body.
void EachSubChunk(Reader& rd, const Body& body, const std::string& form,
                  const std::function<void(const std::string&, const std::uint8_t*, std::size_t)>& f) {
    std::size_t at = 4;
    while (at + 8 <= body.size()) {
        const std::string id = IdText(body.data() + at);
        const std::uint32_t size = GetU32(body.data() + at + 4);
        if (size > body.size() - at - 8) {
            rd.note("LIST/" + form + " の " + id + " がチャンクの外にはみ出しています");
            return;
        }
        f(id, body.data() + at + 8, size);
        at += 8 + std::size_t{size} + (size & 1);
    }
}

void ReadInfoList(Reader& rd, const Body& body) {
    EachSubChunk(rd, body, "INFO", [&rd](const std::string& id, const std::uint8_t* p, std::size_t n) {
        std::vector<InfoField>& info = rd.m.info;
        if (rd.infoIds.count(id) != 0) {
            rd.note("INFOの" + id + "が重複しています(最初のものを表示します)");
            return;
        }
        if (info.size() == kMetadataItemCap) {
            rd.note(Format("INFOの項目は最初の %zu 個だけ読みました", kMetadataItemCap));
            return;
        }
        rd.infoIds.insert(id);
        info.push_back({id, rd.text(p, n, "INFOの" + id)});
    });
}

void ReadCues(Reader& rd, const Body& body) {
    if (body.size() < 4) {
        rd.note("cueチャンクが短すぎて点の数がありません");
        return;
    }
    const std::uint32_t count = GetU32(body.data());
    std::size_t fit = (body.size() - 4) / kCuePointSize;
    if (count > fit) rd.note(Format("cueチャンクは %u 点としていますが、中身は %zu 点分です", count, fit));
    fit = std::min({fit, std::size_t{count}, kMetadataItemCap});
    if (fit == kMetadataItemCap && count > fit)
        rd.note(Format("cueの点は最初の %zu 点だけ読みました", kMetadataItemCap));
    for (std::size_t i = 0; i < fit; ++i) {
        const std::uint8_t* p = body.data() + 4 + i * kCuePointSize;
        // The sample offset counts frames from the start of the data chunk.
        rd.m.cues.push_back({GetU32(p), GetU32(p + 20), std::nullopt, {}, {}, {}});
    }
}

// Labels, notes and texts of cue points (LIST/adtl), once the cues are read.
void ReadAdtl(Reader& rd, const Body& body, const std::unordered_map<std::uint32_t, std::size_t>& cueAt) {
    EachSubChunk(rd, body, "adtl", [&rd, &cueAt](const std::string& id, const std::uint8_t* p, std::size_t n) {
        if (id != "labl" && id != "note" && id != "ltxt") return;
        if (n < (id == "ltxt" ? 20u : 4u)) {
            rd.note("LIST/adtl の " + id + " が短すぎます");
            return;
        }
        const std::uint32_t cueId = GetU32(p);
        const auto at = cueAt.find(cueId);
        if (at == cueAt.end()) {
            rd.note(Format("LIST/adtl の %s が存在しない cue %u を指しています", id.c_str(), cueId));
            return;
        }
        CuePoint* cue = &rd.m.cues[at->second];
        const std::string what = Format("cue %u の", cueId) + id;
        if (id == "labl") cue->label = rd.text(p + 4, n - 4, what);
        if (id == "note") cue->note = rd.text(p + 4, n - 4, what);
        if (id == "ltxt") {
            const std::uint32_t length = GetU32(p + 4);
            if (length > 0) cue->length = length;
            cue->text = rd.text(p + 20, n - 20, what);
        }
    });
}

void ReadSampler(Reader& rd, const Body& body) {
    if (body.size() < kSmplFixed) {
        rd.note(Format("smplチャンクが %zuByte しかありません(固定部は36Byte)", body.size()));
        return;
    }
    SamplerInfo s;
    s.samplePeriod = GetU32(body.data() + 8);
    s.unityNote = GetU32(body.data() + 12);
    s.pitchFraction = GetU32(body.data() + 16);
    const std::uint32_t count = GetU32(body.data() + 28);
    const std::size_t fit = (body.size() - kSmplFixed) / kLoopSize;
    if (count > fit) rd.note(Format("smplチャンクはループ %u 個としていますが、中身は %zu 個分です", count, fit));
    const std::size_t n = std::min({fit, std::size_t{count}, kMetadataItemCap});
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = body.data() + kSmplFixed + i * kLoopSize;
        s.loops.push_back({GetU32(p), GetU32(p + 4), GetU32(p + 8), GetU32(p + 12), GetU32(p + 16), GetU32(p + 20)});
    }
    rd.m.sampler = s;
}

void ReadInstrument(Reader& rd, const Body& body) {
    if (body.size() < kInstSize) {
        rd.note(Format("instチャンクが %zuByte しかありません(7Byte必要です)", body.size()));
        return;
    }
    const auto s8 = [&body](std::size_t i) { return static_cast<int>(static_cast<std::int8_t>(body[i])); };
    rd.m.instrument = InstrumentInfo{body[0], s8(1), s8(2), body[3], body[4], body[5], body[6]};
}

// Positions past the frames of the data: the cue or loop is kept, with a note.
void CheckPositions(Reader& rd) {
    const Metadata& m = rd.m;
    const std::uint64_t frames = m.context.frames;
    const std::string data = "(データは " + GroupThousands(frames) + " サンプル)";
    for (const CuePoint& c : m.cues)
        if (c.position > frames)
            rd.note(Format("cue %u はデータの外(", c.id) + GroupThousands(c.position) + " サンプル)を指しています" +
                    data);
        else if (c.length && c.position + *c.length > frames)
            rd.note(Format("cue %u のリージョンの終わり(", c.id) + GroupThousands(c.position + *c.length) +
                    " サンプル)がデータの外です" + data);
    if (!m.sampler) return;
    for (const SampleLoop& l : m.sampler->loops)
        if (l.start > l.end || l.end > frames)
            rd.note(Format("ループ %u の範囲 ", l.id) + GroupThousands(l.start) + "-" + GroupThousands(l.end) +
                    " はデータ(" + GroupThousands(frames) + " サンプル)に収まっていません");
}

}  // namespace

Metadata ReadMetadata(File& file, const std::vector<ChunkEntry>& chunks, const MetadataContext& context) {
    Metadata m;
    m.context = context;
    Reader rd{file, m, kMetadataTotalCap, {}};
    std::vector<Body> adtl;
    bool cueRead = false;
    for (const ChunkEntry& c : chunks) {
        if (!c.wellFormed() && c.fault != ChunkFault::PastEnd) continue;
        const std::string form = c.id == "LIST" ? ListForm(file, c) : std::string();
        // Only the first of each chunk counts; every LIST INFO and adtl does.
        void (*read)(Reader&, const Body&) = nullptr;
        if (c.id == "bext" && !m.bext)
            read = ReadBext;
        else if (c.id == "iXML" && !m.ixml)
            read = ReadIxml;
        else if (c.id == "cue " && !cueRead)
            read = ReadCues;
        else if (c.id == "smpl" && !m.sampler)
            read = ReadSampler;
        else if (c.id == "inst" && !m.instrument)
            read = ReadInstrument;
        else if (form == "INFO")
            read = ReadInfoList;
        else if (form != "adtl")
            continue;
        cueRead = cueRead || c.id == "cue ";
        std::optional<Body> body = rd.body(c);
        if (!body) continue;
        if (read)
            read(rd, *body);
        else
            adtl.push_back(std::move(*body));
    }
    // The labels may come before the cue chunk they name.
    std::unordered_map<std::uint32_t, std::size_t> cueAt;
    for (std::size_t i = 0; i < m.cues.size(); ++i) cueAt.emplace(m.cues[i].id, i);
    for (const Body& b : adtl) ReadAdtl(rd, b, cueAt);
    CheckPositions(rd);
    return m;
}

}  // namespace velmora
