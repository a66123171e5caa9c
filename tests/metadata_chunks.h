// The descriptive chunks built from bytes: bext, iXML, LIST/INFO and
// LIST/adtl, cue, smpl and inst, with every count and size settable so
// broken ones are as easy to make as good ones.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "wav_builder.h"

namespace velmora::test {

inline Bytes TextBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A chunk with the pad byte after an odd body.
inline Bytes PaddedChunk(const char* id, const Bytes& body) {
    Bytes b = Chunk(id, body);
    if (body.size() % 2 != 0) b.push_back(0);
    return b;
}

// A LIST chunk of the given form ("INFO", "adtl") holding these sub-chunks.
inline Bytes ListOf(const char* form, const std::vector<Bytes>& subs) {
    Bytes body;
    Append(body, form);
    for (const Bytes& s : subs) AppendBytes(body, s);
    return PaddedChunk("LIST", body);
}

// An INFO field or an adtl text as writers store them: NUL-terminated.
inline Bytes TextField(const char* id, Bytes text) {
    text.push_back(0);
    return PaddedChunk(id, text);
}

// A cue chunk: (id, sample offset) per point, the count as given or the
// number of points.
inline Bytes CueChunk(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& points,
                      std::optional<std::uint32_t> count = std::nullopt) {
    Bytes body;
    AppendU32(body, count.value_or(static_cast<std::uint32_t>(points.size())));
    for (const auto& [id, offset] : points) {
        AppendU32(body, id);
        AppendU32(body, offset);  // play order position
        Append(body, "data");
        AppendU32(body, 0);
        AppendU32(body, 0);
        AppendU32(body, offset);
    }
    return Chunk("cue ", body);
}

// labl and note: the cue id, then the text.
inline Bytes CueText(const char* id, std::uint32_t cue, const std::string& text) {
    Bytes body(4 + text.size());
    for (std::size_t i = 0; i < 4; ++i) body[i] = static_cast<std::uint8_t>(cue >> (8 * i));
    std::copy(text.begin(), text.end(), body.begin() + 4);
    return TextField(id, body);
}

// ltxt: a region of `length` samples from the cue, with its text.
inline Bytes RegionText(std::uint32_t cue, std::uint32_t length, const std::string& text) {
    Bytes body(20 + text.size(), 0);
    for (std::size_t i = 0; i < 4; ++i) {
        body[i] = static_cast<std::uint8_t>(cue >> (8 * i));
        body[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        body[8 + i] = static_cast<std::uint8_t>("rgn "[i]);
    }
    std::copy(text.begin(), text.end(), body.begin() + 20);
    return TextField("ltxt", body);
}

struct Loop {
    std::uint32_t id, type, start, end, playCount;
};
inline Bytes SmplChunk(std::uint32_t unityNote, const std::vector<Loop>& loops) {
    Bytes body;
    for (std::uint32_t v : {0u, 0u, 125000u, unityNote, 0u, 0u, 0u, static_cast<std::uint32_t>(loops.size()), 0u})
        AppendU32(body, v);
    for (const Loop& l : loops)
        for (std::uint32_t v : {l.id, l.type, l.start, l.end, 0u, l.playCount}) AppendU32(body, v);
    return Chunk("smpl", body);
}

inline Bytes InstChunk(const std::vector<std::int8_t>& fields) {
    Bytes body;
    for (std::int8_t v : fields) body.push_back(static_cast<std::uint8_t>(v));
    return PaddedChunk("inst", body);
}

// A bext chunk: the 602 bytes of the fixed part, then the coding history.
struct Bext {
    std::string description, originator, reference, date, time, history;
    std::uint64_t timeReference = 0;
    std::uint16_t version = 1;
    std::vector<std::int16_t> loudness;  // version 2: up to five values in hundredths

    Bytes Build() const {
        Bytes body(602, 0);
        const auto put = [&body](std::size_t at, const std::string& s) {
            std::copy(s.begin(), s.end(), body.begin() + static_cast<std::ptrdiff_t>(at));
        };
        put(0, description);
        put(256, originator);
        put(288, reference);
        put(320, date);
        put(330, time);
        for (std::size_t i = 0; i < 8; ++i) body[338 + i] = static_cast<std::uint8_t>(timeReference >> (8 * i));
        body[346] = static_cast<std::uint8_t>(version);
        for (std::size_t i = 0; i < loudness.size(); ++i) {
            body[412 + 2 * i] = static_cast<std::uint8_t>(loudness[i]);
            body[413 + 2 * i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(loudness[i]) >> 8);
        }
        AppendBytes(body, TextBytes(history));
        return PaddedChunk("bext", body);
    }
};

}  // namespace velmora::test
