// Builds WAV files byte by byte for the tests, with every field settable so
// broken headers are as easy to make as good ones.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;

inline void Append(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
inline void AppendU16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendU32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AppendU64(Bytes& b, std::uint64_t v) {
    AppendU32(b, static_cast<std::uint32_t>(v));
    AppendU32(b, static_cast<std::uint32_t>(v >> 32));
}
inline void AppendBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline std::uint16_t ReadU16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t ReadU32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | (static_cast<std::uint32_t>(b.at(at + 1)) << 8) |
           (static_cast<std::uint32_t>(b.at(at + 2)) << 16) | (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

// A chunk with the given id and body (no pad byte).
inline Bytes Chunk(const char* id, const Bytes& body) {
    Bytes b;
    Append(b, id);
    AppendU32(b, static_cast<std::uint32_t>(body.size()));
    AppendBytes(b, body);
    return b;
}

// A "LIST" chunk of the given body size (filled with 'x').
inline Bytes ListChunk(std::uint32_t bodySize) { return Chunk("LIST", Bytes(bodySize, 'x')); }

struct WavBuilder {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 44100;
    std::uint16_t bitsPerSample = 16;
    std::optional<std::uint16_t> blockAlign;      // default channels * bits / 8
    std::optional<std::uint32_t> avgBytesPerSec;  // default rate * blockAlign
    std::uint32_t fmtSize = 16;                   // 16, 18 or 40 usually
    std::uint16_t cbSize = 0;                     // written when fmtSize >= 18
    std::uint16_t validBits = 0;                  // written when fmtSize >= 40
    std::uint32_t channelMask = 0;
    std::uint16_t subFormatTag = 1;
    Bytes beforeFmt;  // whole chunks between the RIFF header and "fmt "
    Bytes betweenFmtAndData;
    Bytes samples;
    Bytes trailer;                          // bytes after the sample data (a LIST chunk, junk)
    std::optional<std::uint32_t> dataSize;  // default samples.size()
    std::optional<std::uint32_t> riffSize;  // default file length - 8
    const char* waveId = "WAVE";
    // An RF64 file: riffId "RF64" (or "BW64") and a ds64 chunk right after
    // "WAVE" holding these 64-bit sizes; both 32-bit size fields then default
    // to 0xFFFFFFFF.
    const char* riffId = "RIFF";
    std::optional<std::uint64_t> ds64RiffSize;
    std::optional<std::uint64_t> ds64DataSize;

    WavBuilder& Rf64(std::uint64_t riff64, std::uint64_t data64, const char* id = "RF64") {
        riffId = id;
        ds64RiffSize = riff64;
        ds64DataSize = data64;
        return *this;
    }

    std::uint16_t align() const {
        return blockAlign.value_or(static_cast<std::uint16_t>(channels * bitsPerSample / 8));
    }

    // The extensible layout in one call: fmtSize 40, cbSize 22.
    WavBuilder& Extensible(std::uint16_t valid, std::uint32_t mask) {
        formatTag = 0xFFFE;
        fmtSize = 40;
        cbSize = 22;
        validBits = valid;
        channelMask = mask;
        return *this;
    }

    Bytes Build() const {
        Bytes fmt;
        AppendU16(fmt, formatTag);
        AppendU16(fmt, channels);
        AppendU32(fmt, samplesPerSec);
        AppendU32(fmt, avgBytesPerSec.value_or(samplesPerSec * align()));
        AppendU16(fmt, align());
        AppendU16(fmt, bitsPerSample);
        if (fmtSize >= 18) AppendU16(fmt, cbSize);
        if (fmtSize >= 40) {
            AppendU16(fmt, validBits);
            AppendU32(fmt, channelMask);
            AppendU16(fmt, subFormatTag);
            const std::uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
            fmt.insert(fmt.end(), tail, tail + 14);
        }
        while (fmt.size() < fmtSize) fmt.push_back(0);
        Bytes b;
        Append(b, riffId);
        AppendU32(b, 0);
        Append(b, waveId);
        const bool rf64 = ds64RiffSize.has_value();
        if (rf64) {
            Append(b, "ds64");
            AppendU32(b, 28);
            AppendU64(b, *ds64RiffSize);
            AppendU64(b, *ds64DataSize);
            AppendU64(b, *ds64DataSize / (align() ? align() : 1));
            AppendU32(b, 0);
        }
        AppendBytes(b, beforeFmt);
        Append(b, "fmt ");
        AppendU32(b, fmtSize);
        AppendBytes(b, fmt);
        AppendBytes(b, betweenFmtAndData);
        Append(b, "data");
        AppendU32(b, dataSize.value_or(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(samples.size())));
        AppendBytes(b, samples);
        AppendBytes(b, trailer);
        std::uint32_t riff = riffSize.value_or(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(b.size() - 8));
        for (std::size_t i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        return b;
    }
};

// 16-bit samples, interleaved as given.
inline Bytes Pcm16(const std::vector<std::int16_t>& values) {
    Bytes b;
    for (auto v : values) AppendU16(b, static_cast<std::uint16_t>(v));
    return b;
}

// Deterministic sample bytes: frame f, channel c gets a distinct pattern.
inline Bytes PatternSamples(std::size_t frames, int channels, int bytesPerSample) {
    const auto frameChannels = static_cast<std::size_t>(channels);
    const auto width = static_cast<std::size_t>(bytesPerSample);
    Bytes b;
    b.reserve(frames * frameChannels * width);
    for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < frameChannels; ++c)
            for (std::size_t k = 0; k < width; ++k)
                b.push_back(static_cast<std::uint8_t>((f * 7 + c * 31 + k * 101 + (f >> 8) * 13) & 0xFF));
    return b;
}

// A UTF-8 path as the standard library's file functions take it (on
// Windows a narrow string would be read in the ANSI code page).
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The bytes, then a hole up to `length`: a file far past 4 GiB that costs no
// disk (check the free space the holes would need if they were filled).
inline void WriteSparse(const std::string& path, const Bytes& bytes, std::uint64_t length) {
    WriteFile(path, bytes);
    std::filesystem::resize_file(FsPath(path), length);
}

// Length of the file at path, or -1 when there is no such entry.
inline std::int64_t FileSizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(FsPath(path), error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A temporary folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        // No mkdtemp: a name of the clock and a counter, taken when free.
        static int counter = 0;
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            const auto name = "velmora-test-" +
                              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                              std::to_string(counter++);
            std::error_code ec;
            if (std::filesystem::create_directory(base / name, ec)) path_ = (base / name).string();
        }
#else
        std::string tmpl = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        char* made = ::mkdtemp(buf.data());
        path_ = made ? made : "";
#endif
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Full path of a file inside the folder, with the separator the core's
    // own names get.
    std::string file(const std::string& name) const {
#ifdef _WIN32
        return path_ + "\\" + name;
#else
        return path_ + "/" + name;
#endif
    }
    // Writes the bytes to a file inside the folder and returns its path.
    std::string write(const std::string& name, const Bytes& bytes) const {
        WriteFile(file(name), bytes);
        return file(name);
    }

private:
    std::string path_;
};

}  // namespace velmora::test
