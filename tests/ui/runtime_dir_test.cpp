// The per-user run-time folder of the window (instance lock, traffic log):
// which folder each user gets, the folders refused, the lock per user with
// its crashed-instance takeover, and the save that never follows a link.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QTemporaryDir>

#include "app/ui/runtime_dir.h"
#include "app/ui/single_instance.h"

namespace fs = std::filesystem;

namespace {

class RuntimeDirTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }

    std::string Path(const std::string &name) const { return FDir.path().toStdString() + "/" + name; }
    // A folder with the given mode.
    std::string Folder(const std::string &name, mode_t mode) const
    {
        const std::string path = Path(name);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    RRuntimeEnv Env(const std::string &xdg, uid_t uid = ::getuid()) const { return {xdg, Path("tmp"), uid}; }

    static mode_t Mode(const std::string &path)
    {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }
    static std::string Read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    QTemporaryDir FDir;
};

} // namespace

TEST_F(RuntimeDirTest, SessionFolderWhenPrivateElseAPrivateTempFolder)
{
    ASSERT_EQ(::mkdir(Path("tmp").c_str(), 0777), 0);
    const std::string own = Folder("run-own", 0700);
    const std::string shared = Folder("run-shared", 0777);
    const std::string groupWritable = Folder("run-group", 0770);
    const std::string fallback = Path("tmp/" + PrivateTempFolderName(::getuid()));
    const struct {
        std::string xdg;
        std::string expected;
    } cases[] = {
        {own, own},
        {"", fallback},
        {"relative/run", fallback},
        {Path("missing"), fallback},
        {shared, fallback},
        {groupWritable, fallback},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.xdg);
        const RRuntimeDir dir = UserRuntimeDir(Env(c.xdg));
        ASSERT_TRUE(dir.mOk) << dir.mError;
        EXPECT_EQ(dir.mPath, c.expected);
    }
    EXPECT_EQ(Mode(fallback), 0700u);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(fallback)));
}

TEST_F(RuntimeDirTest, TempFoldersThatOthersControlAreRefused)
{
    ASSERT_EQ(::mkdir(Path("tmp").c_str(), 0777), 0);
    const uid_t me = ::getuid();
    const std::string mine = Path("tmp/" + PrivateTempFolderName(me));

    // A link planted at the folder's name, to a folder that is fine in itself.
    const std::string elsewhere = Folder("elsewhere", 0700);
    fs::create_directory_symlink(elsewhere, mine);
    RRuntimeDir dir = UserRuntimeDir(Env(""));
    EXPECT_FALSE(dir.mOk);
    EXPECT_NE(dir.mError.find("not a folder"), std::string::npos) << dir.mError;
    fs::remove(mine);

    // A folder others can write.
    ASSERT_EQ(::mkdir(mine.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(mine.c_str(), 0777), 0);
    dir = UserRuntimeDir(Env(""));
    EXPECT_FALSE(dir.mOk);
    EXPECT_NE(dir.mError.find("other users"), std::string::npos) << dir.mError;
    fs::remove(mine);

    // A plain file at the name.
    std::ofstream(mine) << "x";
    EXPECT_FALSE(UserRuntimeDir(Env("")).mOk);
    fs::remove(mine);

    // Another user's folder name, which this process does not own.
    dir = UserRuntimeDir(Env("", me + 1));
    EXPECT_EQ(dir.mPath, Path("tmp/" + PrivateTempFolderName(me + 1)));
    EXPECT_FALSE(dir.mOk);
    EXPECT_NE(dir.mError.find("another user"), std::string::npos) << dir.mError;

    // Without a usable folder the window starts anyway, without the check.
    TSingleInstance unchecked(Env("", me + 1));
    EXPECT_TRUE(unchecked.Path().empty());
    EXPECT_TRUE(unchecked.Acquire());
    EXPECT_FALSE(unchecked.Held());
    EXPECT_FALSE(unchecked.Error().empty());
}

TEST_F(RuntimeDirTest, EachUserHasItsOwnLockAndACrashedOneIsTakenOver)
{
    ASSERT_EQ(::mkdir(Path("tmp").c_str(), 0777), 0);
    // Two accounts: each session's folder, and the temp-folder names by uid.
    const RRuntimeEnv alice = Env(Folder("run-alice", 0700));
    const RRuntimeEnv bob = Env(Folder("run-bob", 0700));
    EXPECT_NE(TSingleInstance::LockPath(alice), TSingleInstance::LockPath(bob));
    EXPECT_EQ(TSingleInstance::LockPath(alice), alice.mXdgRuntimeDir + "/" + kInstanceLockName);
    EXPECT_NE(Path("tmp/" + PrivateTempFolderName(1000)), Path("tmp/" + PrivateTempFolderName(1001)));

    {
        TSingleInstance first(alice);
        ASSERT_TRUE(first.Acquire());
        EXPECT_TRUE(first.Error().empty());
        TSingleInstance other(bob); // another user is not locked out
        EXPECT_TRUE(other.Acquire());
        EXPECT_TRUE(other.Held());
        TSingleInstance second(alice); // the same user is
        EXPECT_FALSE(second.Acquire());
        EXPECT_FALSE(second.Held());
    }

    // The lock of an instance that crashed: its process is gone.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    std::ofstream(TSingleInstance::LockPath(alice)) << child << "\nbeamport\n\n";
    TSingleInstance after(alice);
    EXPECT_TRUE(after.Acquire());
    EXPECT_TRUE(after.Held());
}

TEST_F(RuntimeDirTest, SavingReplacesALinkAtTheNameAndNeverWritesThroughIt)
{
    const std::string dir = Folder("run", 0700);
    const std::string victim = Path("victim.txt");
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, dir + "/Comm.TXT");

    std::string error;
    ASSERT_TRUE(WritePrivateFile(dir, "Comm.TXT", "line 1\r\nline 2\r\n", &error)) << error;
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(dir + "/Comm.TXT"));
    EXPECT_EQ(Read(dir + "/Comm.TXT"), "line 1\r\nline 2\r\n");
    EXPECT_EQ(Mode(dir + "/Comm.TXT"), 0600u);

    // Failures keep the file that is there and leave no temporary behind.
    fs::create_directory(dir + "/Folder.TXT");
    EXPECT_FALSE(WritePrivateFile(dir, "Folder.TXT", "x", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(WritePrivateFile(Path("missing"), "Comm.TXT", "x", &error));
    EXPECT_FALSE(WritePrivateFile(dir, "../escape.TXT", "x", &error));
    int entries = 0;
    for (const auto &entry : fs::directory_iterator(dir)) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 2); // Comm.TXT and Folder.TXT
    EXPECT_EQ(Read(dir + "/Comm.TXT"), "line 1\r\nline 2\r\n");
}
