// The per-user run-time folder of the window (instance lock, traffic log):
// which folder a user gets and the folders refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include <QTemporaryDir>

#include "app/runtime_dir.h"
#include "ui/single_instance.h"

namespace fs = std::filesystem;

namespace {

class RuntimeDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        fs::create_directory(Path("tmp"));
        fs::permissions(Path("tmp"), fs::perms::all);
    }
    std::string Path(const std::string &name) const { return FDir.path().toStdString() + "/" + name; }
    std::string Folder(const std::string &name, fs::perms perms) const
    {
        fs::create_directory(Path(name));
        fs::permissions(Path(name), perms);
        return Path(name);
    }
    RRuntimeEnv Env(const std::string &xdg, uid_t uid = ::getuid()) const { return {xdg, Path("tmp"), uid}; }
    std::string TempFolder(uid_t uid = ::getuid()) const { return Path("tmp/" + PrivateTempFolderName(uid)); }

    QTemporaryDir FDir;
};

} // namespace

TEST_F(RuntimeDirTest, SessionFolderWhenPrivateElseAPrivateTempFolder)
{
    const std::string own = Folder("run-own", fs::perms::owner_all);
    const struct {
        std::string xdg;
        std::string expected;
    } cases[] = {
        {own, own},
        {"", TempFolder()},
        {"relative/run", TempFolder()},
        {Path("missing"), TempFolder()},
        {Folder("run-shared", fs::perms::all), TempFolder()},
        {Folder("run-group", fs::perms::owner_all | fs::perms::group_all), TempFolder()},
    };
    for (const auto &c : cases) {
        const RRuntimeDir dir = UserRuntimeDir(Env(c.xdg));
        ASSERT_TRUE(dir.mOk) << c.xdg << ": " << dir.mError;
        EXPECT_EQ(dir.mPath, c.expected) << c.xdg;
    }
    EXPECT_EQ(fs::symlink_status(TempFolder()).permissions(), fs::perms::owner_all);
    EXPECT_NE(TempFolder(1000), TempFolder(1001)); // each account its own
}

TEST_F(RuntimeDirTest, TempFoldersThatOthersControlAreRefused)
{
    const uid_t me = ::getuid();
    const std::string mine = TempFolder();
    const struct {
        const char *what;
        std::function<void()> plant;
        uid_t uid;
        const char *error;
    } cases[] = {
        {"a link to a good folder",
         [&] { fs::create_directory_symlink(Folder("elsewhere", fs::perms::owner_all), mine); }, me, "not a folder"},
        {"a folder others can write", [&] { Folder("tmp/" + PrivateTempFolderName(me), fs::perms::all); }, me,
         "other users"},
        {"a plain file", [&] { std::ofstream(mine) << "x"; }, me, "not a folder"},
        {"another user's name", [] {}, me + 1, "another user"},
    };
    for (const auto &c : cases) {
        c.plant();
        const RRuntimeDir dir = UserRuntimeDir(Env("", c.uid));
        EXPECT_FALSE(dir.mOk) << c.what;
        EXPECT_EQ(dir.mPath, TempFolder(c.uid)) << c.what;
        EXPECT_NE(dir.mError.find(c.error), std::string::npos) << c.what << ": " << dir.mError;
        // The window starts anyway, without the check, and says why.
        TSingleInstance unchecked(Env("", c.uid));
        EXPECT_TRUE(unchecked.Acquire()) << c.what;
        EXPECT_FALSE(unchecked.Held());
        EXPECT_FALSE(unchecked.Error().empty());
        fs::remove_all(TempFolder(c.uid));
    }
}

// Qt gets the same folder when the session names none, so that it neither
// warns nor leaves a folder of its own in the temp folder; a session's folder
// is left as it is.
TEST_F(RuntimeDirTest, ProvidedToQtWhenTheSessionNamesNone)
{
    struct RSavedEnv {
        std::string name;
        std::optional<std::string> value;
        explicit RSavedEnv(std::string n) : name(std::move(n))
        {
            if (const char *v = std::getenv(name.c_str()))
                value = v;
        }
        ~RSavedEnv() { value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str()); }
    } xdg("XDG_RUNTIME_DIR"), tmp("TMPDIR");
    ::setenv("TMPDIR", Path("tmp").c_str(), 1);

    const char *const unsetValues[] = {"", nullptr}; // empty, or no variable at all
    for (const char *unset : unsetValues) {
        unset ? ::setenv("XDG_RUNTIME_DIR", unset, 1) : ::unsetenv("XDG_RUNTIME_DIR");
        ASSERT_TRUE(ProvideXdgRuntimeDir());
        ASSERT_NE(std::getenv("XDG_RUNTIME_DIR"), nullptr);
        EXPECT_EQ(std::string(std::getenv("XDG_RUNTIME_DIR")), TempFolder());
        EXPECT_EQ(fs::status(TempFolder()).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    const std::string session = Folder("session", fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", session.c_str(), 1);
    EXPECT_TRUE(ProvideXdgRuntimeDir());
    EXPECT_EQ(std::string(std::getenv("XDG_RUNTIME_DIR")), session);
}
