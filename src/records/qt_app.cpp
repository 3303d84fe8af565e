#include "records/qt_app.h"

#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>

namespace {
int gArgc = 1;
char gArg0[] = "beamport";
char *gArgv[] = {gArg0, nullptr};

std::unique_ptr<QCoreApplication> &Application()
{
    static std::unique_ptr<QCoreApplication> app;
    return app;
}
} // namespace

namespace {
QtMessageHandler gPrevious = nullptr;

// The database drivers' own complaints (a connection lost, a statement that
// failed) are the store's to report, in one line of its own: they are not
// repeated on stderr.
void QuietDrivers(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray category = context.category ? QByteArray(context.category) : QByteArray();
    if (type != QtFatalMsg && (category.startsWith("qt.sql") || message.startsWith(QLatin1String("QPSQL")) ||
                               message.startsWith(QLatin1String("QSqlQuery::")) ||
                               message.startsWith(QLatin1String("QSqlDatabasePrivate::"))))
        return;
    if (gPrevious)
        gPrevious(type, context, message);
    else
        qt_message_output(type, context, message);
}
} // namespace

void QuietDatabaseDrivers()
{
    static const bool installed = [] {
        gPrevious = qInstallMessageHandler(QuietDrivers);
        return true;
    }();
    (void)installed;
}

void EnsureCoreApplication()
{
    QuietDatabaseDrivers();
    if (!QCoreApplication::instance())
        Application() = std::make_unique<QCoreApplication>(gArgc, gArgv);
}

bool EnsureGuiApplication()
{
    if (QCoreApplication::instance())
        return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application() = std::make_unique<QGuiApplication>(gArgc, gArgv);
    return true;
}
