// Text the user typed, read into the operations' typed options. Both front
// ends parse through these, so either refuses the same texts with the same
// words.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// A whole number: leading blanks, a sign, decimal digits or hexadecimal after
// "$", "x" or "0x"; throws "'%s' は整数ではありません" otherwise.
std::int32_t ParseInteger(const std::string& text);
// The pseudo-surround delay in milliseconds: an integer within 0–1000.
std::int32_t ParseSurroundDelay(const std::string& text);
// A sampling frequency for a file of this frame size: an integer of at least
// 1 whose byte rate fits 32 bits, the refusal naming the text as typed.
std::int32_t ParseSampleRate(const std::string& text, std::int16_t blockAlign);

// A level in dB for normalize's targets: a decimal number from -70 to 0
// ("-1", "-23.5"); throws TextNotLevel otherwise.
double ParseLevel(const std::string& text);
// '%s' は-70から0までの数値ではありません
std::string TextNotLevel(const std::string& text);

}  // namespace velmora
