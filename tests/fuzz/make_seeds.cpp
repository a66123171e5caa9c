// Writes the seed corpus of the fuzz targets: the kinds of file the tests
// build, each small.
#include <cstdio>
#include <string>

#include "../wav_builder.h"

using namespace velmora::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    int n = 0;
    auto put = [&](const WavBuilder& b) { WriteFile(dir + "/seed" + std::to_string(n++) + ".wav", b.Build()); };

    WavBuilder canonical;
    canonical.samplesPerSec = 8;
    canonical.samples = PatternSamples(20, 2, 2);
    put(canonical);

    WavBuilder b18 = canonical;
    b18.fmtSize = 18;
    put(b18);

    WavBuilder ext;
    ext.channels = 6;
    ext.bitsPerSample = 16;
    ext.samplesPerSec = 4;
    ext.Extensible(16, 0x3F);
    ext.samples = PatternSamples(9, 6, 2);
    put(ext);

    WavBuilder list = canonical;
    list.trailer = ListChunk(26);
    put(list);

    WavBuilder riff = canonical;
    riff.riffSize = 36 + 80 + 4;
    put(riff);

    WavBuilder mono = canonical;
    mono.channels = 1;
    mono.samples = PatternSamples(19, 1, 2);
    put(mono);

    WavBuilder eight = canonical;
    eight.bitsPerSample = 8;
    eight.samples = PatternSamples(21, 2, 1);
    put(eight);

    WavBuilder junk = canonical;
    junk.beforeFmt = Chunk("junk", Bytes(10, 'j'));
    put(junk);

    WavBuilder quiet = canonical;
    quiet.samples = Bytes(80, 0);
    put(quiet);
    return 0;
}
