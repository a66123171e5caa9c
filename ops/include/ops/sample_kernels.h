// The per-sample inner loops of the split, the pseudo-surround, the
// multiplex writer and the normalisation. They are kept apart so each can be
// built for the widest vector unit the processor offers, chosen once at start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::kernels {

// Copies `width` bytes out of every `stride`-byte frame of `in` to `out`,
// packed: the split's channel extraction.
void ExtractChannel(const std::uint8_t* in, std::size_t stride, std::size_t width, std::uint8_t* out,
                    std::size_t frames);

// The reverse: the packed `width`-byte samples of `in` to every
// `stride`-byte frame of `out`. Widths other than 1 to 4 and 8 copy nothing.
void PlaceChannel(const std::uint8_t* in, std::size_t width, std::uint8_t* out, std::size_t stride, std::size_t frames);

// Every channel of packed frames of `channels` × `width` bytes at once:
// out[c] receives channel c, packed. The split's one pass.
void Deinterleave(const std::uint8_t* in, std::size_t channels, std::size_t width, std::uint8_t* const* out,
                  std::size_t frames);

// The reverse: frames of `channels` × `width` bytes from the packed samples
// of in[0] … in[channels − 1]. The multiplex writer's one pass. Widths other
// than 1 to 4 and 8 copy nothing, as PlaceChannel.
void Interleave(const std::uint8_t* const* in, std::size_t channels, std::size_t width, std::uint8_t* out,
                std::size_t frames);

// Whole pseudo-surround frames from stereo 16-bit frames: output frame i
// holds the front pair of in[i] and the rear pair (left and right exchanged
// when swap is set) of in[i - delay], taken from lead[i] for i < delay.
// outChannels is 4 (front, rear) or 6 (front, two zero channels, rear).
void SpreadSurround(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                    std::uint8_t* out, int outChannels, bool swap);

// The loudest absolute value of `samples` signed 16-bit little-endian
// samples; -32768 counts as 32767.
int Peak16(const std::uint8_t* p, std::size_t samples);

// Every signed 16-bit sample x becomes trunc(x × gain), the product formed
// in double precision (exact for these operands), kept within -32768..32767.
void Scale16(std::uint8_t* p, std::size_t samples, float gain);

}  // namespace velmora::kernels
