#include "ops/option_text.h"

#include "ops/repair.h"
#include "ops/surround.h"
#include "wav/text.h"

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

}  // namespace velmora
