#include "files/atomic_save.h"

#include <QFileInfo>
#include <QSaveFile>

bool WriteFileReplacing(const std::string &path, const void *data, size_t size, std::string *error)
{
    const QString name = QString::fromStdString(path);
    auto fail = [&](const QString &why) {
        if (error)
            *error = why.toStdString();
        return false;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("no file name"));
    if (QFileInfo(name).isDir())
        return fail(QStringLiteral("%1 is a folder").arg(name));
    if (const std::string problem = LinkProblem(path); !problem.empty())
        return fail(QString::fromStdString(problem));
    QSaveFile file(name);
    // Unbuffered, so that a short write (disk full, size limit) shows in the
    // count here instead of being lost in a buffer flushed at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    const qint64 wanted = static_cast<qint64>(size);
    const qint64 written = file.write(static_cast<const char *>(data), wanted);
    if (written != wanted) {
        const QString why = written < 0 ? file.errorString() : QStringLiteral("the file could not be written in full");
        file.cancelWriting();
        file.commit(); // discards the temporary
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
