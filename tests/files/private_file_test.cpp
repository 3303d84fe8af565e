// Files only this user may use (the bench key, its folder, the records file,
// a witness head): a link, a file or folder others may read or write, or one
// of the wrong size is never taken for one, and a file made once is never
// replaced.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "files/private_file.h"

namespace fs = std::filesystem;

namespace {

struct PrivateFile : ::testing::Test {
    PrivateFile()
    {
        fs::remove_all(root);
        fs::create_directories(root);
        ::chmod(root.c_str(), 0700);
    }
    ~PrivateFile() override { fs::remove_all(root); }

    std::string Path(const std::string &name) const { return (root / name).string(); }
    void Write(const std::string &name, const std::string &bytes, mode_t mode) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        ::chmod(Path(name).c_str(), mode);
    }
    std::string Read(const std::string &name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path root = fs::temp_directory_path() / ("beamport-private-" + std::to_string(::getpid()));
};

} // namespace

TEST_F(PrivateFile, OnlyAFileOfThisUserOfTheRightSizeIsRead)
{
    Write("key", std::string(8, 'k'), 0600);
    Write("open", std::string(8, 'o'), 0644);
    Write("short", std::string(7, 's'), 0600);
    fs::create_symlink(Path("key"), Path("link"));
    fs::create_directories(Path("folder"));
    const struct {
        const char *name;
        EPrivateRead result;
    } rows[] = {
        {"key", EPrivateRead::Ok},          {"open", EPrivateRead::NotPrivate},
        {"short", EPrivateRead::NotPrivate}, {"folder", EPrivateRead::NotPrivate},
        {"link", EPrivateRead::Unreadable}, {"none", EPrivateRead::Missing},
    };
    for (const auto &row : rows) {
        char bytes[8] = {};
        std::string reason;
        EXPECT_EQ(ReadPrivateFile(Path(row.name), bytes, sizeof bytes, reason), row.result) << row.name;
        if (row.result == EPrivateRead::Ok) {
            EXPECT_EQ(std::string(bytes, sizeof bytes), std::string(8, 'k'));
        }
        if (row.result == EPrivateRead::Missing || row.result == EPrivateRead::Unreadable) {
            EXPECT_FALSE(reason.empty()) << row.name;
        }
    }
}

TEST_F(PrivateFile, OnlyARealFolderNobodyElseMayWriteIsPrivate)
{
    const struct {
        const char *name;
        std::function<void(const std::string &)> make;
        EOwnFolder result;
    } rows[] = {
        {"mine", [](const std::string &p) {
             fs::create_directory(p);
             ::chmod(p.c_str(), 0700);
         }, EOwnFolder::Private},
        {"shared", [](const std::string &p) {
             fs::create_directory(p);
             ::chmod(p.c_str(), 0777);
         },
         EOwnFolder::NotPrivate},
        {"group", [](const std::string &p) {
             fs::create_directory(p);
             ::chmod(p.c_str(), 0770);
         },
         EOwnFolder::NotPrivate},
        {"linked", [this](const std::string &p) { fs::create_symlink(root, p); }, EOwnFolder::NotPrivate},
        {"file", [](const std::string &p) { std::ofstream(p) << "x"; }, EOwnFolder::NotPrivate},
        {"none", [](const std::string &) {}, EOwnFolder::Missing},
    };
    for (const auto &row : rows) {
        row.make(Path(row.name));
        std::string reason;
        EXPECT_EQ(InspectOwnFolder(Path(row.name), reason), row.result) << row.name;
    }
    std::string reason;
    ASSERT_TRUE(MakeOwnFolder(Path("made"), reason)) << reason;
    EXPECT_TRUE(MakeOwnFolder(Path("made"), reason)) << "one that exists is fine";
    EXPECT_EQ(InspectOwnFolder(Path("made"), reason), EOwnFolder::Private);
    EXPECT_FALSE(MakeOwnFolder(Path("none/deeper"), reason));
}

TEST_F(PrivateFile, AFileMadeOnceIsNeverReplaced)
{
    std::string reason;
    ASSERT_EQ(CreateFileOnce(Path("key"), Path("key.tmp1"), "first", 5, reason), ECreateOnce::Done) << reason;
    // A second program's key made at the same time loses to the first.
    EXPECT_EQ(CreateFileOnce(Path("key"), Path("key.tmp2"), "other", 5, reason), ECreateOnce::Done);
    EXPECT_EQ(Read("key"), "first");
    struct stat st {};
    ASSERT_EQ(::stat(Path("key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(Path("key.tmp1")) || fs::exists(Path("key.tmp2"))) << "a temporary was left behind";
    EXPECT_EQ(CreateFileOnce(Path("none/key"), Path("none/key.tmp"), "x", 1, reason), ECreateOnce::TempFailed);
    EXPECT_FALSE(reason.empty());

    // The records file: made empty once, never through a link planted at its name.
    EXPECT_EQ(CreateEmptyPrivateFile(Path("records"), reason), ECreateEmpty::Created);
    EXPECT_EQ(CreateEmptyPrivateFile(Path("records"), reason), ECreateEmpty::Exists);
    fs::create_symlink(Path("elsewhere"), Path("planted"));
    EXPECT_EQ(CreateEmptyPrivateFile(Path("planted"), reason), ECreateEmpty::Exists);
    EXPECT_FALSE(fs::exists(Path("elsewhere"))) << "created through the link";
    EXPECT_EQ(CreateEmptyPrivateFile(Path("none/records"), reason), ECreateEmpty::Failed);
}

TEST_F(PrivateFile, ASmallFileIsReadWithinItsLimit)
{
    Write("head", "12:abc\n", 0644);
    Write("big", std::string(65, 'x'), 0644);
    fs::create_symlink(Path("head"), Path("link"));
    fs::create_directories(Path("folder"));
    const struct {
        const char *name;
        ESmallFile result;
        const char *bytes;
    } rows[] = {
        {"head", ESmallFile::Ok, "12:abc\n"},  {"big", ESmallFile::NotSmall, ""},
        {"folder", ESmallFile::NotSmall, ""}, {"link", ESmallFile::Unreadable, ""},
        {"none", ESmallFile::Missing, ""},
    };
    for (const auto &row : rows) {
        std::string bytes = "stale", reason;
        EXPECT_EQ(ReadSmallFile(Path(row.name), 64, bytes, reason), row.result) << row.name;
        EXPECT_EQ(bytes, row.bytes) << row.name;
    }
}
