// Reading input files: regular files only, never a wait on a FIFO or a device,
// never more than allowed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "model/input_file.h"

namespace fs = std::filesystem;

namespace {

class InputFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/inputfileXXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Write(const char *name, const std::string &bytes)
    {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }
    fs::path dir;
};

} // namespace

TEST_F(InputFileTest, OnlyRegularFilesAreRead)
{
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = (dir / "link").string();
    fs::create_symlink(Write("target", "abc"), link);
    const std::string dangling = (dir / "dangling").string();
    fs::create_symlink(dir / "gone", dangling);

    const struct {
        const char *name;
        std::string path;
        EInputFile result;
        const char *bytes;
    } rows[] = {
        {"regular", Write("plain", "hello"), EInputFile::Ok, "hello"},
        {"empty", Write("empty", ""), EInputFile::Ok, ""},
        {"through a link", link, EInputFile::Ok, "abc"},
        {"missing", (dir / "none").string(), EInputFile::Missing, ""},
        {"dangling link", dangling, EInputFile::Missing, ""},
        {"below a file", (dir / "plain" / "x").string(), EInputFile::Missing, ""},
        {"directory", dir.string(), EInputFile::NotRegular, ""},
        {"FIFO without a writer", fifo, EInputFile::NotRegular, ""},
        {"character device", "/dev/null", EInputFile::NotRegular, ""},
        {"endless device", "/dev/zero", EInputFile::NotRegular, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        for (const RInputFile &f : {ReadInputFile(r.path, 1024), ReadInputFileHead(r.path, 1024)}) {
            EXPECT_EQ(f.mResult, r.result);
            EXPECT_EQ(std::string(f.mBytes.begin(), f.mBytes.end()), r.bytes);
        }
    }
    EXPECT_EQ(InputFileProblem(EInputFile::NotRegular), "it is not a regular file");
    EXPECT_EQ(InputFileProblem(EInputFile::Ok), "");

    if (::geteuid() != 0) { // root reads whatever the mode says
        const std::string locked = Write("locked", "secret");
        ::chmod(locked.c_str(), 0);
        EXPECT_EQ(ReadInputFile(locked, 1024).mResult, EInputFile::Unreadable);
    }
}

TEST_F(InputFileTest, SizeLimits)
{
    const std::string ten = Write("ten", "0123456789");
    const struct {
        uint64_t limit;
        EInputFile result;
    } rows[] = {{10, EInputFile::Ok}, {11, EInputFile::Ok}, {9, EInputFile::TooLarge}, {0, EInputFile::TooLarge}};
    for (const auto &r : rows) {
        const RInputFile f = ReadInputFile(ten, r.limit);
        EXPECT_EQ(f.mResult, r.result) << r.limit;
        EXPECT_EQ(f.mSize, 10u);
        EXPECT_EQ(f.mBytes.size(), r.result == EInputFile::Ok ? 10u : 0u);
    }

    // A huge (sparse) file is refused by its size, and its head is all that is read.
    const std::string huge = (dir / "huge").string();
    std::ofstream(huge).close();
    ASSERT_EQ(::truncate(huge.c_str(), 1LL << 40), 0);
    const RInputFile refused = ReadInputFile(huge, 1 << 20);
    EXPECT_EQ(refused.mResult, EInputFile::TooLarge);
    EXPECT_TRUE(refused.mBytes.empty());
    const RInputFile head = ReadInputFileHead(huge, 152);
    EXPECT_EQ(head.mResult, EInputFile::Ok);
    EXPECT_EQ(head.mBytes, std::vector<uint8_t>(152, 0));

    // The head of a shorter file is the whole file.
    EXPECT_EQ(ReadInputFileHead(ten, 4).mBytes.size(), 4u);
    EXPECT_EQ(ReadInputFileHead(ten, 400).mBytes.size(), 10u);
}
