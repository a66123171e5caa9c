// Sample loops for the formats beyond 8- and 16-bit integers: 24- and 32-bit
// integers and 32- and 64-bit float. Plain per-sample code; the vectorised
// loops of sample_kernels.h stay the 8/16-bit path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav/sample_format.h"

namespace velmora::wide {

// The largest value of an integer container: 2^(8 × bytes − 1) − 1.
double FullScale(const SampleFormat& f);

// The loudest absolute value of `samples` samples. Integers count their most
// negative value as FullScale; float samples that are not finite are left out.
double Peak(const std::uint8_t* p, std::size_t samples, const SampleFormat& f);

// Scales every sample so that `peak` (> 0) reaches full scale. Integers:
// trunc(x × FullScale / peak), the gain in double precision, cut towards zero
// and kept within the container; float: x / peak, so the peak becomes ±1.0.
void Scale(std::uint8_t* p, std::size_t samples, const SampleFormat& f, double peak);

// Multiplies every sample (integers 16 bits and wider, or float) by `gain`:
// integers rounded to the nearest value and kept within the container.
void ScaleBy(std::uint8_t* p, std::size_t samples, const SampleFormat& f, double gain);

// Pseudo-surround frames from stereo frames of two `bytes` samples: output
// frame i holds the front pair of in[i] and the rear pair (exchanged when
// swap is set) of in[i - delay], taken from lead[i] for i < delay. With 6
// output channels the third and fourth are zero bytes.
void SpreadSurround(const std::uint8_t* in, const std::uint8_t* lead, std::size_t frames, std::size_t delay,
                    std::uint8_t* out, int outChannels, bool swap, std::size_t bytes);

}  // namespace velmora::wide
