#include "records/driver_messages.h"

#include <QByteArray>
#include <QString>

namespace {

void QuietDrivers(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg && TQuietDrivers::FromDriver(context.category, message))
        return;
    // Called from inside a handler, Qt's own output writes the message to
    // stderr plainly (and a fatal one still ends the program).
    qt_message_output(type, context, message);
}

} // namespace

TQuietDrivers::TQuietDrivers() : FBefore(qInstallMessageHandler(QuietDrivers)) {}

TQuietDrivers::~TQuietDrivers() { qInstallMessageHandler(FBefore); }

bool TQuietDrivers::FromDriver(const char *category, const QString &message)
{
    return (category && QByteArray(category).startsWith("qt.sql")) || message.startsWith(QLatin1String("QPSQL")) ||
           message.startsWith(QLatin1String("QSqlQuery::")) ||
           message.startsWith(QLatin1String("QSqlDatabasePrivate::"));
}
