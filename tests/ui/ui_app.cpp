#include "ui/ui_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryFile>

namespace {

QApplication *gApp = nullptr;

// The application goes when the tests are done, before the process exits:
// destroyed among the static objects at exit it would outlive parts of Qt it
// still uses.
class TAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete gApp;
        gApp = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment *const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

} // namespace

QApplication &TestApp()
{
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *app;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen screen is 800 x 800 unless told otherwise, smaller than a
    // technician's desktop: the tests get a 1920 x 1200 one, or the one asked for.
    int width = 1920, height = 1200;
    const QList<QByteArray> asked = qgetenv(kTestScreenVariable).split('x');
    if (asked.size() == 2 && asked[0].toInt() > 0 && asked[1].toInt() > 0) {
        width = asked[0].toInt();
        height = asked[1].toInt();
    }
    QTemporaryFile screens(QDir::tempPath() + QStringLiteral("/test_ui_screens_XXXXXX.json"));
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && screens.open()) {
        screens.write(QStringLiteral(R"({"screens": [{"name": "Desktop", "x": 0, "y": 0, "width": %1, "height": %2,
                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                          .arg(width)
                          .arg(height)
                          .toUtf8());
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    }
    static int argc = 1;
    static char name[] = "test_ui";
    static char *argv[] = {name, nullptr};
    gApp = new QApplication(argc, argv);
    // Tests close windows without an event loop to end.
    QApplication::setQuitOnLastWindowClosed(false);
    return *gApp;
}
