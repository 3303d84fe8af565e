#include "ui/single_instance.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QString>

TSingleInstance::TSingleInstance(const std::string &lockPath) : FPath(lockPath)
{
    MakeLock();
}

TSingleInstance::TSingleInstance(const RRuntimeEnv &env)
{
    FPath = LockPath(env, &FError);
    MakeLock();
}

TSingleInstance::~TSingleInstance() = default;

std::string TSingleInstance::LockPath(const RRuntimeEnv &env, std::string *error)
{
    const RRuntimeDir dir = UserRuntimeDir(env);
    if (!dir.mOk) {
        if (error)
            *error = dir.mError;
        return {};
    }
    return dir.mPath + "/" + kInstanceLockName;
}

void TSingleInstance::MakeLock()
{
    if (FPath.empty()) {
        if (FError.empty())
            FError = "no lock file";
        return;
    }
    FLock = std::make_unique<QLockFile>(QString::fromStdString(FPath));
    // A running instance keeps its lock for hours: never judge it by age, only
    // by whether its process still lives.
    FLock->setStaleLockTime(0);
}

bool TSingleInstance::Acquire()
{
    if (!FLock)
        return true;
    if (FLock->isLocked())
        return true;
    // tryLock takes over a lock file whose process is gone.
    if (FLock->tryLock(0))
        return true;
    if (FLock->error() == QLockFile::LockFailedError) {
        // A live instance holds it, unless the file names this very process:
        // then an earlier one died with the same process id (ids come round
        // again after a restart; Wine gives them out in the same order every
        // time), and nobody holds it.
        qint64 pid = 0;
        return FLock->getLockInfo(&pid, nullptr, nullptr) && pid == QCoreApplication::applicationPid() &&
               FLock->removeStaleLockFile() && FLock->tryLock(0);
    }
    // The lock file cannot be made at all: that is no sign of another
    // instance, so the program runs without the check.
    FError = FPath + ": the lock file could not be created";
    FLock.reset();
    return true;
}

bool TSingleInstance::Held() const
{
    return FLock && FLock->isLocked();
}
