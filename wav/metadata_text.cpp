// The texts of the descriptive chunks: decoding what writers put there, and
// the report's section that shows them.
#ifdef _WIN32
#include "io/win32_api.h"
#else
#include <iconv.h>
#endif

#include <algorithm>

#include "wav/metadata.h"
#include "wav/text.h"

namespace velmora {

namespace {

// Texts longer than this many characters are cut on the report's line; the
// JSON keeps them whole.
constexpr std::size_t kLineChars = 60;

#ifdef _WIN32
// The system's own table of code page 932, the one the files were written with.
std::optional<std::string> FromShiftJis(const std::string& raw) {
    if (raw.empty()) return std::string();
    const int inLen = static_cast<int>(raw.size());
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, raw.data(), inLen, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, raw.data(), inLen, wide.data(), n);
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, out.data(), m, nullptr, nullptr);
    if (!IsValidUtf8(out)) return std::nullopt;
    return out;
}
#else
std::optional<std::string> FromShiftJis(const std::string& raw) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    // A byte of code page 932 becomes at most three of UTF-8.
    std::string out(raw.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(raw.data());
    std::size_t inLeft = raw.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &to, &toLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    out.resize(out.size() - toLeft);
    if (!IsValidUtf8(out)) return std::nullopt;
    return out;
}
#endif

std::string Escape(const std::string& raw) {
    std::string out;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += ch;
        else
            out += Format("\\x%02X", static_cast<unsigned>(c));
    }
    return out;
}

// The length of the UTF-8 sequence that starts with c (0 for no lead byte).
std::size_t SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

// One line of at most kLineChars characters: line breaks and other control
// characters become blanks, a cut text ends in "…".
std::string OneLine(const std::string& text) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = std::max<std::size_t>(SequenceLength(c), 1);
        if (chars == kLineChars) return out + "…";
        if (c < 0x20 || c == 0x7F) {
            if (out.empty() || out.back() != ' ') out += ' ';
        } else {
            out.append(text, i, n);
        }
        ++chars;
        i += n;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string Position(std::uint64_t samples, std::int32_t rate) {
    const std::string time = SampleTime(samples, rate);
    return GroupThousands(samples) + (time.empty() ? "" : " (" + time + ")");
}

void BextLines(const BextInfo& b, std::int32_t rate, std::vector<std::string>& r) {
    r.push_back(Format("bext バージョン: %u", static_cast<unsigned>(b.version)));
    const std::pair<const char*, const std::string*> texts[] = {
        {"説明", &b.description}, {"作成者", &b.originator}, {"作成者参照", &b.originatorReference}};
    for (const auto& [label, text] : texts)
        if (!text->empty()) r.push_back(std::string("bext ") + label + ": " + OneLine(*text));
    if (!b.originationDate.empty() || !b.originationTime.empty())
        r.push_back("bext 作成日時: " + OneLine(b.originationDate + " " + b.originationTime));
    r.push_back("bext タイムリファレンス: " + Position(b.timeReference, rate));
    std::string loudness;
    for (const BextLevelField& f : kBextLevelFields)
        if (b.*f.value) loudness += Format(f.label, *(b.*f.value) / 100.0);
    if (!loudness.empty()) r.push_back("bext " + loudness.substr(0, loudness.size() - 1));
    if (!b.codingHistory.empty()) r.push_back("bext コーディング履歴: " + OneLine(b.codingHistory));
}

void IxmlLines(const IxmlInfo& x, std::vector<std::string>& r) {
    bool any = false;
    for (const IxmlField& f : kIxmlFields)
        if (!(x.*f.text).empty()) {
            r.push_back(std::string("iXML ") + f.label + ": " + OneLine(x.*f.text));
            any = true;
        }
    if (!any) r.emplace_back("iXML (表示する項目はありません)");
}

void CueLines(const std::vector<CuePoint>& cues, std::int32_t rate, std::vector<std::string>& r) {
    for (const CuePoint& c : cues) {
        std::string line =
            Format(c.length ? "リージョン %u 位置: " : "マーカー %u 位置: ", c.id) + Position(c.position, rate);
        if (c.length) line += " 長さ: " + Position(*c.length, rate);
        if (!c.label.empty()) line += " ラベル: " + OneLine(c.label);
        if (!c.note.empty()) line += " メモ: " + OneLine(c.note);
        if (!c.text.empty()) line += " テキスト: " + OneLine(c.text);
        r.push_back(line);
    }
}

void SamplerLines(const SamplerInfo& s, std::int32_t rate, std::vector<std::string>& r) {
    r.push_back(Format("smpl 基準ノート: %u 微調整: %u/2^32", s.unityNote, s.pitchFraction));
    static const char* const kTypes[] = {"順方向", "往復", "逆方向"};
    for (const SampleLoop& l : s.loops) {
        const std::string type = l.type < 3 ? kTypes[l.type] : Format("種類 %u", l.type);
        r.push_back(Format("ループ %u 開始: ", l.id) + Position(l.start, rate) + " 終了: " + Position(l.end, rate) +
                    " " + type + " 回数: " + (l.playCount == 0 ? std::string("無限") : Format("%u", l.playCount)));
    }
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = SequenceLength(c);
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        const auto second = n > 1 ? static_cast<unsigned char>(text[i + 1]) : 0x80;
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
            (c == 0xF4 && second > 0x8F))
            return false;
        i += n;
    }
    return true;
}

std::string DecodeChunkText(const std::uint8_t* bytes, std::size_t count, bool* escaped) {
    const std::size_t length = static_cast<std::size_t>(std::find(bytes, bytes + count, 0) - bytes);
    const std::string raw(reinterpret_cast<const char*>(bytes), length);
    if (escaped) *escaped = false;
    if (IsValidUtf8(raw)) return raw;
    if (std::optional<std::string> text = FromShiftJis(raw)) return *text;
    if (escaped) *escaped = true;
    return Escape(raw);
}

std::string SampleTime(std::uint64_t samples, std::int32_t samplesPerSec) {
    if (samplesPerSec <= 0) return {};
    const auto rate = static_cast<std::uint64_t>(samplesPerSec);
    const std::uint64_t seconds = samples / rate;
    const std::uint64_t millis = samples % rate * 1000 / rate;
    return Format("%02llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60),
                  static_cast<unsigned long long>(millis));
}

std::vector<std::string> MetadataReportLines(const Metadata& m) {
    std::vector<std::string> r;
    if (m.empty()) return r;
    const std::int32_t rate = m.context.samplesPerSec;
    r.emplace_back();
    r.emplace_back("** メタデータ **");
    if (m.bext) BextLines(*m.bext, rate, r);
    if (m.ixml) IxmlLines(*m.ixml, r);
    for (const InfoField& f : m.info) r.push_back("INFO " + f.id + ": " + OneLine(f.text));
    CueLines(m.cues, rate, r);
    if (m.sampler) SamplerLines(*m.sampler, rate, r);
    if (const auto& i = m.instrument)
        r.push_back(Format("inst 基準ノート: %d 微調整: %dセント ゲイン: %ddB ノート範囲: %d-%d ベロシティ範囲: %d-%d",
                           i->unshiftedNote, i->fineTune, i->gain, i->lowNote, i->highNote, i->lowVelocity,
                           i->highVelocity));
    for (const std::string& note : m.notes) r.push_back("注意: " + note);
    return r;
}

}  // namespace velmora
