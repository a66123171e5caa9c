// The Win32 half of the file layer: outputs that appear only whole, names
// in UTF-8 whatever the code page, the busy-writer look and the patch lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/error.h"
#include "io/file.h"
#include "io/paths.h"
#include "io/win32_api.h"
#include "wav_builder.h"

using namespace velmora;
using namespace velmora::test;

namespace {

std::vector<std::string> Names(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(FsPath(dir.path()))) {
        const std::u8string n = e.path().filename().u8string();
        names.emplace_back(n.begin(), n.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Win32Files, AnOutputAppearsWholeUnderItsNameAndNeverHalfWritten) {
    TempDir dir;
    const std::string name = dir.file("録音 テイク(Left)(0).wav");
    const Bytes bytes = {'R', 'I', 'F', 'F', 1, 2, 3};
    {
        OutputFile out = OutputFile::Create(name);
        out.write(bytes.data(), bytes.size());
        EXPECT_FALSE(NameTaken(name));  // only a hidden temporary so far
        out.commit();
    }
    EXPECT_EQ(ReadFile(name), bytes);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"録音 テイク(Left)(0).wav"});
    // Shown, not hidden like the temporary it was.
    const DWORD attributes = GetFileAttributesW(FsPath(name).c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);

    // Replaced in one step; an output given up leaves the old file and nothing else.
    {
        OutputFile out = OutputFile::Create(name);
        out.write("new", 3);
        out.commit();
    }
    EXPECT_EQ(ReadFile(name), (Bytes{'n', 'e', 'w'}));
    {
        OutputFile out = OutputFile::Create(name);
        out.write("lost", 4);
    }
    EXPECT_EQ(ReadFile(name), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(Names(dir).size(), 1u);

    // The input's own name, by either separator, is refused.
    File in = File::OpenRead(name);
    std::string other = name;
    std::replace(other.begin(), other.end(), '\\', '/');
    EXPECT_THROW(OutputFile::Create(other, {&in}), VelmoraError);
}

TEST(Win32Files, AWriterElsewhereAndALockHolderAreSeen) {
    TempDir dir;
    const std::string path = dir.write("テイク.wav", Bytes(64, 0));
    EXPECT_EQ(OpenForWritingElsewhere(path), std::optional<bool>(false));
    {
        File reader = File::OpenRead(path);  // a reader is no writer
        EXPECT_EQ(OpenForWritingElsewhere(path), std::optional<bool>(false));
        File writer = File::OpenReadWrite(path);
        EXPECT_EQ(OpenForWritingElsewhere(path), std::optional<bool>(true));
    }
    EXPECT_EQ(OpenForWritingElsewhere(path), std::optional<bool>(false));

    File first = File::OpenReadWrite(path);
    File second = File::OpenReadWrite(path);
    EXPECT_TRUE(first.tryLockExclusive());
    EXPECT_FALSE(second.tryLockExclusive());
    // The lock keeps the file readable: a patch reads its bytes back.
    std::uint8_t first8 = 1;
    EXPECT_EQ(second.readAt(0, &first8, 1), 1u);
    first.close();
    EXPECT_TRUE(second.tryLockExclusive());
}

TEST(Win32Files, IdentityAndSizesThroughEitherSeparator) {
    TempDir dir;
    const std::string path = dir.write("a.wav", Bytes(1000, 7));
    std::string slashed = path;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    const auto a = IdentityOf(path), b = IdentityOf(slashed);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->sameFile(*b));
    EXPECT_EQ(a->length, 1000u);
    EXPECT_TRUE(IsRegularFile(slashed));
    EXPECT_FALSE(IsRegularFile(dir.path()));
    EXPECT_EQ(FolderPart(slashed) + FileNamePart(path), slashed);
    File f = File::OpenRead(dir.path() + "/a.wav");
    EXPECT_EQ(f.size(), 1000u);
    EXPECT_THROW(File::OpenRead(dir.path()), VelmoraError);
    EXPECT_THROW(File::OpenRead("NUL"), VelmoraError);
}

TEST(Win32Files, PathsPastMaxPathWork) {
    TempDir dir;
    std::string folder = dir.path();
    std::wstring made = L"\\\\?\\" + FsPath(folder).wstring();
    while (folder.size() < 300) {
        folder += "\\長い名前のフォルダ0123456789";
        made += L"\\" + FsPath("長い名前のフォルダ0123456789").wstring();
        ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
    }
    const std::string path = folder + "\\テイク.wav";
    OutputFile out = OutputFile::Create(path);
    out.write("RIFF", 4);
    out.commit();
    EXPECT_TRUE(IsRegularFile(path));
    File in = File::OpenRead(path);
    EXPECT_EQ(in.size(), 4u);
    EXPECT_EQ(IdentityOf(path)->length, 4u);
    in.close();
    // TempDir's own cleanup goes through the standard library, which stops
    // at MAX_PATH: take the deep folders down here.
    while (made.size() > FsPath(dir.path()).wstring().size() + 4) {
        if (made.back() != L'\\') {
            DeleteFileW((made + L"\\テイク.wav").c_str());
            RemoveDirectoryW(made.c_str());
        }
        made.resize(made.rfind(L'\\'));
    }
}
