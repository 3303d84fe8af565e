#pragma once
// The program runs once per user session: a lock file in the temp folder is
// held for the whole run. A lock left behind by an instance that crashed is
// recognised (its process is gone) and taken over.
#include <memory>
#include <string>

class QLockFile;

inline constexpr const char *kInstanceLockName = "NORVIKOPTAVO.lock";
inline constexpr const char *kAlreadyRunningText = "Corvane Optavo program now running...";

class TSingleInstance {
public:
    // The lock in the given file; empty: kInstanceLockName in the temp folder.
    explicit TSingleInstance(const std::string &lockPath = {});
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // True when this process now holds the lock (or held it already); false
    // when another live instance holds it.
    bool Acquire();
    bool Held() const;
    const std::string &Path() const { return FPath; }

private:
    std::string FPath;
    std::unique_ptr<QLockFile> FLock;
};
