#include "records/qt_app.h"

#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>

#include "app/runtime_dir.h"

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

void EnsureCoreApplication()
{
    if (!QCoreApplication::instance())
        Application() = std::make_unique<QCoreApplication>(gArgc, gArgv);
}

bool EnsureGuiApplication()
{
    if (QCoreApplication::instance())
        return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ProvideXdgRuntimeDir();
    Application() = std::make_unique<QGuiApplication>(gArgc, gArgv);
    return true;
}
