#include "app/ui/single_instance.h"

#include <QDir>
#include <QLockFile>

TSingleInstance::TSingleInstance(const std::string &lockPath)
    : FPath(lockPath.empty() ? QDir(QDir::tempPath()).filePath(QString::fromLatin1(kInstanceLockName)).toStdString()
                             : lockPath),
      FLock(std::make_unique<QLockFile>(QString::fromStdString(FPath)))
{
    // A running instance keeps its lock for hours: never judge it by age, only
    // by whether its process still lives.
    FLock->setStaleLockTime(0);
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::Acquire()
{
    if (FLock->isLocked())
        return true;
    // tryLock takes over a lock file whose process is gone.
    return FLock->tryLock(0);
}

bool TSingleInstance::Held() const
{
    return FLock->isLocked();
}
