// A corpus of malformed files: each is analysed, must give its expected
// outcome, and must come out of it byte-identical.
#include <gtest/gtest.h>

#include "io/paths.h"
#include "ops/operations.h"
#include "ops/output_paths.h"
#include <sys/stat.h>
#include <unistd.h>

#include "hostile_corpus.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::test::hostile;

TEST(HostileFiles, EachGivesItsOutcomeAndStaysUnchanged) {
    TempDir dir;
    auto corpus = Corpus();
    ASSERT_GE(corpus.size(), 40u);
    for (const auto& c : corpus) {
        SCOPED_TRACE(c.name);
        std::string path = dir.write(c.name + ".wav", c.bytes);
        std::uint64_t before = Checksum(ReadFile(path));
        WaveInfo info;
        AnalysisResult r = AnalyzeWave(path, info);
        EXPECT_EQ(r.stop, c.stop);
        EXPECT_EQ(info.analysisComplete, c.stop == AnalysisStop::Complete);
        if (c.stop == AnalysisStop::Complete) {
            ASSERT_TRUE(r.report && AllowedOperations(info, r) && r.hexDump);
        } else if (c.stop != AnalysisStop::DivisionByZero) {
            EXPECT_EQ(r.messages.size(), 1u);
            EXPECT_FALSE(r.report || AllowedOperations(info, r));
        }
        if (c.check) c.check(r, info);
        EXPECT_EQ(Checksum(ReadFile(path)), before);
    }
}

TEST(HostileFiles, FolderCannotBeOpened) {
    TempDir dir;
    WaveInfo info;
    try {
        AnalyzeWave(dir.path(), info);
        FAIL() << "a folder was analysed";
    } catch (const VelmoraError& e) {
        EXPECT_EQ(CodeOf(e.what()), "cannot-open " + dir.path());
    }
    EXPECT_FALSE(info.analysisComplete);
}

TEST(HostileFiles, FileWithoutReadPermissionCannotBeOpened) {
    TempDir dir;
    WaveInfo info;
    std::string locked = dir.write("locked.wav", Canonical().Build());
    ::chmod(locked.c_str(), 0);
    if (::access(locked.c_str(), R_OK) == 0) GTEST_SKIP() << "running with rights that read any file";
    EXPECT_THROW(AnalyzeWave(locked, info), VelmoraError);
    EXPECT_FALSE(info.analysisComplete);
}

TEST(HostileFiles, JapaneseNameWithBlanks) {
    TempDir dir;
    std::string path = dir.write("録音 テイク 1.wav", Canonical().Build());
    WaveInfo info;
    AnalysisResult r = AnalyzeWave(path, info);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(DefaultOutputFolder(path), EnsureTrailingSeparator(dir.path()));
    EXPECT_EQ(info.analyzedPath, path);
}
