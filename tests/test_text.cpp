#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ops/operations.h"
#include "ops/output_paths.h"
#include "wav/error.h"
#include "wav/text.h"

using namespace velmora;

TEST(Text, GroupThousands) {
    EXPECT_EQ(GroupThousands(0), "0");
    EXPECT_EQ(GroupThousands(999), "999");
    EXPECT_EQ(GroupThousands(1000), "1,000");
    EXPECT_EQ(GroupThousands(1234567), "1,234,567");
    EXPECT_EQ(GroupThousands(4294967295u), "4,294,967,295");
}

TEST(Text, StandardIntegerConversion) {
    EXPECT_EQ(TryStrToInt("200"), 200);
    EXPECT_EQ(TryStrToInt(" 200"), 200);
    EXPECT_EQ(TryStrToInt("0200"), 200);
    EXPECT_EQ(TryStrToInt("+5"), 5);
    EXPECT_EQ(TryStrToInt("-1"), -1);
    EXPECT_EQ(TryStrToInt("$1F"), 31);
    EXPECT_EQ(TryStrToInt("0x10"), 16);
    EXPECT_EQ(TryStrToInt("X10"), 16);
    EXPECT_EQ(TryStrToInt("-$10"), -16);
    EXPECT_EQ(TryStrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
    for (const char* bad : {"", " ", "200 ", "abc", "2147483648", "-2147483649", "$", "0x", "1.5", "$100000000", "+"})
        EXPECT_FALSE(TryStrToInt(bad).has_value()) << '"' << bad << '"';
    try {
        StrToInt("12a");
        FAIL();
    } catch (const VelmoraError& e) {
        EXPECT_STREQ(e.what(), "'12a' は整数ではありません");
    }
}

TEST(Text, PathPieces) {
    const std::string sep(1, kPathSeparator);  // what new names get: "/", on Windows "\\"
    EXPECT_EQ(EnsureTrailingSeparator("/music"), "/music" + sep);
    EXPECT_EQ(EnsureTrailingSeparator("/music/"), "/music/");
    EXPECT_EQ(EnsureTrailingSeparator("/"), "/");
    EXPECT_EQ(EnsureTrailingSeparator(""), sep);
#ifdef _WIN32
    EXPECT_EQ(FolderPart("C:\\rec/sub\\take1.wav"), "C:\\rec/sub\\");
    EXPECT_EQ(FileNamePart("C:\\rec/take1.wav"), "take1.wav");
    EXPECT_EQ(EnsureTrailingSeparator("C:\\rec\\"), "C:\\rec\\");
#else
    EXPECT_EQ(FileNamePart("/rec/a\\b.wav"), "a\\b.wav");
#endif
    EXPECT_EQ(FolderPart("/rec/take1.wav"), "/rec/");
    EXPECT_EQ(FolderPart("take1.wav"), "");
    EXPECT_EQ(FileNamePart("/rec/take1.wav"), "take1.wav");
    EXPECT_EQ(BaseName("/rec/take.1.wav"), "take.1");
    EXPECT_EQ(BaseName("/rec/noext"), "noext");
    EXPECT_EQ(BaseName("/r.e.c/noext"), "noext");
}

// Every operation and both front ends name their outputs through these.
TEST(Text, OutputPathsAndTheOperationsOwnNames) {
    struct Case {
        const char *chosen, *source, *suffix, *path, *keepingExtension;
    };
    // "|" stands for the separator a new name gets.
    const auto sep = [](std::string s) {
        std::replace(s.begin(), s.end(), '|', kPathSeparator);
        return s;
    };
    for (const Case& c : {
             Case{"", "/rec/take.1.wav", "(x).wav", "/rec/take.1(x).wav", "/rec/take.1.wav(x).wav"},
             Case{"", "take.wav", "(x).wav", ".|take(x).wav", ".|take.wav(x).wav"},
             Case{"/out", "/rec/take.wav", "(x).wav", "/out|take(x).wav", "/out|take.wav(x).wav"},
             Case{"/out/", "take.raw", "(y).wav", "/out/take(y).wav", "/out/take.raw(y).wav"},
         }) {
        EXPECT_EQ(OutputPath(c.chosen, c.source, c.suffix), sep(c.path));
        EXPECT_EQ(OutputPathKeepingExtension(c.chosen, c.source, c.suffix), sep(c.keepingExtension));
    }
    EXPECT_EQ(DefaultOutputFolder("/rec/take.wav"), "/rec/");
    EXPECT_EQ(DefaultOutputFolder("take.wav"), ".");

    std::set<std::string> names;
    for (Operation op : kAllOperations) names.insert(OperationName(op));
    EXPECT_EQ(names, (std::set<std::string>{"split", "surround", "normalize", "rebuild-header", "mux", "remove-footer",
                                            "set-rate", "fix-riff-size", "recover"}));
}
