#include "ops/option_text.h"

#include "ops/repair.h"
#include "ops/surround.h"
#include "wav/error.h"
#include "wav/text.h"

#include <stdexcept>
#include <string>

namespace velmora {

std::int32_t ParseInteger(const std::string& text) { return StrToInt(text); }

std::int32_t ParseSurroundDelay(const std::string& text) {
    const std::int32_t delay = ParseInteger(text);
    RequireDelayInRange(delay);
    return delay;
}

std::int32_t ParseSampleRate(const std::string& text, std::int16_t blockAlign) {
    const std::int32_t rate = ParseInteger(text);
    RequireUsableRate(rate, text, blockAlign);
    return rate;
}

std::string TextNotLevel(const std::string& text) { return "'" + text + "' は-70から0までの数値ではありません"; }

double ParseLevel(const std::string& text) {
    std::size_t used = 0;
    double v = 0;
    try {
        v = std::stod(text, &used);
    } catch (const std::exception&) {
        throw VelmoraError(TextNotLevel(text));
    }
    // Below -70 nothing passes the loudness gate; above 0 integers clip.
    if (used != text.size() || !(v >= -70 && v <= 0)) throw VelmoraError(TextNotLevel(text));
    return v;
}

}  // namespace velmora
