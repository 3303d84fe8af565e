#include "files/file_names.h"

#include <cmath>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

qint64 DayCountToMSecs(TDateTime t) { return static_cast<qint64>(std::llround(t * 86400000.0)); }

// Day counts hold local wall time; read back "as UTC" they give its fields.
QDateTime WallTime(TDateTime t)
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch.addMSecs(DayCountToMSecs(t));
}

} // namespace

std::string FolderOfFile(const std::string &path)
{
    QString folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return QDir::toNativeSeparators(folder).toStdString();
}

std::string NameTimeStamp(TDateTime t)
{
    return WallTime(t).toString(QStringLiteral("yyMMddHHmmss")).toStdString();
}

std::string DateText(TDateTime t) { return WallTime(t).toString(QStringLiteral("yyyy-MM-dd")).toStdString(); }

std::string TimeText(TDateTime t) { return WallTime(t).toString(QStringLiteral("HH:mm:ss")).toStdString(); }
