#include "wav/rf64.h"

#include <cstring>

#include "io/file.h"
#include "wav/bytes.h"

namespace velmora {

bool HasRf64Id(const std::uint8_t* head) { return MatchChunkId(head, "RF64") || MatchChunkId(head, "BW64"); }

std::optional<Ds64> ReadDs64(const std::uint8_t* head, std::size_t n) {
    if (n < kDs64At + kDs64ChunkSize || !HasRf64Id(head) || !MatchChunkId(head + kDs64At, "ds64") ||
        GetU32(head + kDs64BodySizeAt) < 24)
        return std::nullopt;
    return Ds64{GetU64(head + kDs64RiffSizeAt), GetU64(head + kDs64DataSizeAt), GetU64(head + kDs64SampleCountAt)};
}

}  // namespace velmora
