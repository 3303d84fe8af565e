#pragma once
// The program runs once per user: a lock file in the user's run-time folder
// (runtime_dir.h) is held for the whole run. Another account on the same
// machine has its own folder and so its own lock. A lock left behind by an
// instance that crashed is recognised (its process is gone) and taken over.
#include <memory>
#include <string>

#include "app/runtime_dir.h"

class QLockFile;

inline constexpr const char *kInstanceLockName = "NORVIKOPTAVO.lock";
inline constexpr const char *kAlreadyRunningText = "Corvane Optavo program now running...";

class TSingleInstance {
public:
    // The lock in the given file.
    explicit TSingleInstance(const std::string &lockPath);
    // kInstanceLockName in the run-time folder of the environment's user.
    // When that folder is refused there is no lock: Acquire lets the program
    // run and Error() says why (never locking anyone out over a folder
    // someone else planted).
    explicit TSingleInstance(const RRuntimeEnv &env = CurrentRuntimeEnv());
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // The lock file of a user's environment; empty with `error` set when its
    // folder is refused.
    static std::string LockPath(const RRuntimeEnv &env, std::string *error = nullptr);

    // True when this process now holds the lock (or held it already), or
    // runs without one (no folder, or the lock file cannot be created);
    // false when another live instance holds it.
    bool Acquire();
    bool Held() const;
    const std::string &Path() const { return FPath; }
    // Why there is no lock; empty when there is one.
    const std::string &Error() const { return FError; }

private:
    void MakeLock();

    std::string FPath;
    std::string FError;
    std::unique_ptr<QLockFile> FLock;
};
