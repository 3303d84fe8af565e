#pragma once
// The per-user folder of the window's run-time files: the single-instance lock
// and the traffic log Comm.TXT. It is $XDG_RUNTIME_DIR when the session
// provides one, else a folder "beamport-<uid>" in the temp folder that the
// program creates 0700. Either way no other account can write into it, so
// another user on the same machine neither shares the lock nor can plant
// files (or symbolic links) where the traffic log is saved. The folder's
// checks are the platform's own (runtime_dir_posix.cpp).
#include <cstdint>
#include <string>

// What the folder is chosen from; CurrentRuntimeEnv() reads the process's.
struct RRuntimeEnv {
    std::string mXdgRuntimeDir; // $XDG_RUNTIME_DIR, empty when unset
    std::string mTempDir;       // the temp folder ($TMPDIR, else /tmp)
    uint32_t mUid = 0;          // the user the folder is for (the system's user id)
};
RRuntimeEnv CurrentRuntimeEnv();

// The name of the fallback folder in the temp folder: "beamport-<uid>".
std::string PrivateTempFolderName(uint32_t uid);

struct RRuntimeDir {
    std::string mPath;  // the folder; when refused, the one that was tried
    bool mOk = false;
    std::string mError; // why it was refused
};

// $XDG_RUNTIME_DIR when it is an absolute path to a folder of that user that
// neither group nor others can write. Otherwise the temp folder's
// "beamport-<uid>", made 0700 when missing; refused when it is anything but a
// real folder (a symbolic link included), belongs to another user, or group
// or others can write it.
RRuntimeDir UserRuntimeDir(const RRuntimeEnv &env = CurrentRuntimeEnv());

// Gives Qt the same folder: when the session sets no XDG_RUNTIME_DIR, sets it
// to this user's private folder above (made 0700 when missing), so that a Qt
// GUI application object neither warns about the missing variable nor makes a
// folder of its own in the temp folder. Call before that object is made.
// False when there is no variable and no usable folder either (Qt then warns).
bool ProvideXdgRuntimeDir();
