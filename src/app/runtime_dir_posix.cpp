// The per-user run-time folder on POSIX systems: the session's
// XDG_RUNTIME_DIR or a folder of the user's own in the temp folder, each
// checked for its owner and who may write it.
#include "app/runtime_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

#include <QDir>

static_assert(std::is_same_v<uid_t, decltype(RRuntimeEnv::mUid)>, "a user id is the system's uid_t");

namespace {

std::string ErrnoText(const std::string &what, int error) { return what + ": " + std::strerror(error); }

// A folder of `uid` that neither group nor others can write.
bool PrivateFolder(const struct stat &st, uid_t uid, const std::string &path, std::string &why)
{
    if (!S_ISDIR(st.st_mode)) {
        why = path + " is not a folder";
        return false;
    }
    if (st.st_uid != uid) {
        why = path + " belongs to another user";
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = path + " can be written by other users";
        return false;
    }
    return true;
}

} // namespace

RRuntimeEnv CurrentRuntimeEnv()
{
    RRuntimeEnv env;
    if (const char *xdg = std::getenv("XDG_RUNTIME_DIR"))
        env.mXdgRuntimeDir = xdg;
    env.mTempDir = QDir::tempPath().toStdString();
    env.mUid = ::getuid();
    return env;
}


RRuntimeDir UserRuntimeDir(const RRuntimeEnv &env)
{
    RRuntimeDir result;
    std::string why;
    if (!env.mXdgRuntimeDir.empty() && env.mXdgRuntimeDir.front() == '/') {
        // The session's own folder: trusted as a path, checked as a folder.
        struct stat st {};
        if (::stat(env.mXdgRuntimeDir.c_str(), &st) == 0 && PrivateFolder(st, env.mUid, env.mXdgRuntimeDir, why)) {
            result.mPath = env.mXdgRuntimeDir;
            result.mOk = true;
            return result;
        }
    }

    std::string temp = env.mTempDir.empty() ? std::string("/tmp") : env.mTempDir;
    while (temp.size() > 1 && temp.back() == '/')
        temp.pop_back();
    result.mPath = (temp == "/" ? std::string() : temp) + "/" + PrivateTempFolderName(env.mUid);
    if (::mkdir(result.mPath.c_str(), 0700) != 0 && errno != EEXIST) {
        result.mError = ErrnoText(result.mPath, errno);
        return result;
    }
    // lstat: a symbolic link planted at the name is refused, not followed.
    struct stat st {};
    if (::lstat(result.mPath.c_str(), &st) != 0) {
        result.mError = ErrnoText(result.mPath, errno);
        return result;
    }
    if (!PrivateFolder(st, env.mUid, result.mPath, why)) {
        result.mError = why;
        return result;
    }
    result.mOk = true;
    return result;
}

bool ProvideXdgRuntimeDir()
{
    const char *xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg)
        return true;
    const RRuntimeDir dir = UserRuntimeDir();
    return dir.mOk && ::setenv("XDG_RUNTIME_DIR", dir.mPath.c_str(), 1) == 0;
}
