#include "ui/ui_app.h"

#include <gtest/gtest.h>

#include <QApplication>

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
    static int argc = 1;
    static char name[] = "test_ui";
    static char *argv[] = {name, nullptr};
    gApp = new QApplication(argc, argv);
    // Tests close windows without an event loop to end.
    QApplication::setQuitOnLastWindowClosed(false);
    return *gApp;
}
