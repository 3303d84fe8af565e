// beamport: the main window program.
//
//   beamport [--simulate] [--port DEVICE]
//
// --simulate starts a simulated detector inside the program and talks to it,
// so the program can be tried without a detector; --port talks to the given
// serial device instead of looking for the USB infrared adapter.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include "app/end_program.h"
#include "app/runtime_dir.h"
#include "app/session.h"
#include "app/status.h"
#include "app/user_store.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"
#include "app/journal.h"
#include "records/driver_messages.h"
#include "records/journal_store.h"
#include "sim/sim_detector.h"

namespace {

struct ROptions {
    bool simulate = false;
    std::string port;
    bool help = false;
    std::string error;
};

ROptions ParseOptions(const QStringList &args)
{
    ROptions o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--simulate")) {
            o.simulate = true;
        } else if (a == QLatin1String("--port")) {
            if (i + 1 >= args.size()) {
                o.error = "--port needs a device";
                return o;
            }
            o.port = args[++i].toStdString();
        } else if (a.startsWith(QLatin1String("--port="))) {
            o.port = a.mid(7).toStdString();
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            o.help = true;
        } else {
            o.error = "unknown option " + a.toStdString();
            return o;
        }
    }
    return o;
}

const char *const kUsage = "usage: beamport [--simulate] [--port DEVICE]\n";

const char *const kNoDisplayAdvice =
    "the command line works without one: beamport-cli --help (beamport-cli --simulate identify to try it)";

// True when the window has somewhere to go: a platform chosen by hand, or an
// X or Wayland display where these are the way to one.
bool HasDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// Set only while the application object connects to the display: a display
// that cannot be reached ends the program with one line, instead of the
// platform layer's warnings, its advice to reinstall and an abort.
void StartupMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg)
        return;
    const QString first = message.section(QLatin1Char('\n'), 0, 0).trimmed();
    std::fprintf(stderr, "beamport: the window cannot be opened on this display (%s); %s\n",
                 first.toLocal8Bit().constData(), kNoDisplayAdvice);
    std::fflush(stderr);
    std::_Exit(1);
}

int Run(int argc, char **argv)
{
    // The application object only parses its own options here: the instance
    // check comes first, before any settings are read or windows made.
    // The options are read before the application object, so that --help
    // and a wrong option are answered without a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const ROptions options = ParseOptions(args);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty())
            std::fprintf(stderr, "beamport: %s\n", options.error.c_str());
        std::fputs(kUsage, stderr);
        return options.help ? 0 : 64;
    }
    if (!HasDisplay()) {
        std::fprintf(stderr, "beamport: there is no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set); %s\n",
                     kNoDisplayAdvice);
        return 1;
    }
    ProvideXdgRuntimeDir();
    qInstallMessageHandler(StartupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);

    TSingleInstance instance;
    if (!instance.Acquire()) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle),
                        QString::fromLatin1(kAlreadyRunningText), QMessageBox::Ok);
        box.exec();
        return 0;
    }
    if (!instance.Error().empty())
        std::fprintf(stderr, "beamport: running without the single-instance check: %s\n", instance.Error().c_str());

    // The database drivers' own complaints stay off stderr: a store that
    // fails says so in one line.
    const TQuietDrivers quietDrivers;
    QApplication::setApplicationName(QString::fromLatin1(kProgramTitle));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    QApplication::setFont(font);

    std::unique_ptr<SimDetector> simulator; // outlives the session's link
    if (options.simulate) {
        // The unit a new user tries every job on (as beamport-sim serves by default).
        simulator = StartInProcessSimulator(SimDemoOptions());
        if (!simulator) {
            QMessageBox::critical(nullptr, QString::fromLatin1(kProgramTitle),
                                  QStringLiteral("The simulated detector could not be started."));
            return 1;
        }
    }

    // The one session of this run.
    // Simulate mode keeps its remembered values apart from the real ones.
    TSession session(simulator ? SimulatedStoreFile() : std::string());
    session.ChoosePort(options.port, simulator ? simulator->DevicePath() : std::string(),
                       simulator ? simulator->LineTally() : nullptr);
    // Every device job leaves its service record in the store in force.
    QString journalError;
    session.SetJournal(MakeJournal(session, journalError));
    if (!journalError.isEmpty())
        std::fprintf(stderr, "beamport: service records are off: %s\n", journalError.toLocal8Bit().constData());

    // AppDir and the settings are read by the window's creation, first thing.
    TNorvikIRMainForm window(session);
    if (simulator)
        window.UseSimulator(*simulator);
    window.show();
    const int code = app.exec();
    // The records handed over are kept while the window that hears of
    // trouble with them is still there.
    session.Journal().Flush();
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // Every object of the run is gone by now: the window, the records closed.
    EndProgram(Run(argc, argv));
}
