#include "ops/catalogue.h"

#include "io/error.h"
#include "ops/multiplex.h"
#include "ops/normalize.h"
#include "ops/option_text.h"
#include "ops/operations.h"
#include "ops/recover.h"
#include "ops/repair.h"
#include "ops/rescue.h"
#include "ops/second_blocks.h"
#include "ops/split.h"
#include "ops/surround.h"
#include "wav/analysis.h"
#include "wav/error.h"

namespace velmora {

namespace {

// A text around a name, split where the name goes.
CatalogueEntry AroundName(const char* code, std::string (*text)(const std::string&)) {
    constexpr char kMark[] = "\x1f";
    const std::string t = text(kMark);
    const std::size_t at = t.find(kMark);
    return {code, t.substr(0, at), t.substr(at + 1), true};
}

CatalogueEntry Fixed(const char* code, const char* text) { return {code, text, {}, false}; }

std::vector<CatalogueEntry> Build() {
    std::vector<CatalogueEntry> c = {
        // The file layer.
        AroundName("cannot-open", TextCannotOpen),
        AroundName("not-regular-file", TextNotRegularFile),
        AroundName("cannot-create", TextCannotCreate),
        AroundName("cannot-write", TextCannotWrite),
        AroundName("cannot-read", TextCannotRead),
        AroundName("source-changed", TextSourceChanged),
        AroundName("output-is-input", TextOutputIsInput),
        AroundName("file-busy", TextFileBusy),
        AroundName("output-clash", TextOutputClash),
        AroundName("folder-locked", TextFolderLocked),
        // The format and typed values.
        AroundName("not-integer", TextNotInteger),
        AroundName("not-level", TextNotLevel),
        AroundName("unusable-rate", TextUnusableRate),
        Fixed("div-by-zero", kTextDivByZero),
        Fixed("not-analysed", kTextNotAnalysed),
        Fixed("patch-undone", kTextPatchUndone),
        Fixed("delay-range", kTextDelayRange),
        // The operations.
        Fixed("data-size-right", kTextDataSizeHealthy),
        AroundName("data-shifted", TextDataShifted),
        Fixed("format-not-sure", kTextFormatNotSure),
        Fixed("not-audio", kTextNoAudioFound),
        Fixed("silent-file", kTextSilentFile),
        Fixed("true-peak-over-limit", kTextTruePeakOverLimit),
        Fixed("rescue-layout", kTextRescueLayout),
        AroundName("like-unreadable", TextLikeUnreadable),
        Fixed("mono-only", kTextMonoOnly),
        Fixed("compressed-row", kTextCompressedRow),
        Fixed("row-frame", kTextMuxRowFrame),
        Fixed("format-mismatch", kTextFormatMismatch),
        Fixed("no-channel-files", kTextNoChannelFiles),
        Fixed("output-is-input", kTextOutputIsInput),
        Fixed("mux-bad-frame", kTextMuxBadFrame),
        Fixed("short-read", kTextShortRead),
    };
    // Every refusal of the rules, under its reason's code.
    for (const auto& [reason, text] : ReasonTexts()) c.push_back(Fixed(ReasonId(reason), text));
    return c;
}

}  // namespace

const std::vector<CatalogueEntry>& TextCatalogue() {
    static const std::vector<CatalogueEntry> catalogue = Build();
    return catalogue;
}

std::string ErrorCodeOf(const std::string& text) {
    for (const CatalogueEntry& e : TextCatalogue()) {
        if (!e.aroundName) {
            if (text == e.prefix) return e.code;
            continue;
        }
        if (text.size() >= e.prefix.size() + e.suffix.size() && text.compare(0, e.prefix.size(), e.prefix) == 0 &&
            text.compare(text.size() - e.suffix.size(), e.suffix.size(), e.suffix) == 0)
            return e.code;
    }
    return {};
}

}  // namespace velmora
