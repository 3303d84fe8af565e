// Start-up of the window: time from process start to the main window shown
// and idle, and the memory it holds then.
//
//   bench_startup [--runs N] [--real]
//
// Each run is a fresh process (this program started again with --child), made
// as the window program makes itself: the application object, the instance
// lock, the font, the in-process simulated detector (without --real; with it,
// no detector and no port, as a start without an adapter), then the main
// window, shown. "Idle" is the first moment after show() that the event loop
// has nothing left to do and is about to wait (the event dispatcher's
// aboutToBlock).
//
// The clock starts in the parent just before the child is spawned, so the
// time counts exec, the dynamic loader and the libraries' constructors too.
// The memory is the child's VmRSS and VmHWM at idle. Qt runs offscreen unless
// QT_QPA_PLATFORM says otherwise; settings and the instance lock go to a
// temporary folder, so the runs neither read nor change the user's own.
// One run before the counted ones warms the file cache.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFont>

#include "app/session.h"
#include "app/status.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"
#include "sim/sim_detector.h"

extern char **environ;

namespace {

double MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A "VmXXX:" line of /proc/self/status, in kB (0 when absent).
long StatusKb(const char *key)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long value = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, n) == 0) {
            value = std::strtol(line + n, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

// One start of the window; prints "app window shown idle rss hwm" (seconds
// since the parent's spawn, kB) on stdout.
int Child(int argc, char **argv, double spawned, bool real)
{
    QApplication app(argc, argv);
    const double tApp = MonotonicSeconds();

    TSingleInstance instance;
    if (!instance.Acquire()) {
        std::fprintf(stderr, "bench_startup: the instance lock is held\n");
        return 1;
    }
    QApplication::setApplicationName(QString::fromLatin1(kProgramTitle));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    QApplication::setFont(font);

    std::unique_ptr<SimDetector> simulator;
    TSession session;
    if (!real) {
        SimOptions simOptions;
        simOptions.crc_on_write = SimCrcOnWrite::kMaintain;
        simulator = StartInProcessSimulator(simOptions);
        if (!simulator) {
            std::fprintf(stderr, "bench_startup: the simulated detector could not be started\n");
            return 1;
        }
        session.Link().SetPortChoice(simulator->DevicePath());
    }

    TNorvikIRMainForm window(session);
    const double tWindow = MonotonicSeconds();
    window.show();
    const double tShown = MonotonicSeconds();

    double tIdle = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                     [&] {
                         if (tIdle == 0) {
                             tIdle = MonotonicSeconds();
                             QCoreApplication::exit(0);
                         }
                     });
    const int code = app.exec();
    std::printf("%.6f %.6f %.6f %.6f %ld %ld\n", tApp - spawned, tWindow - spawned, tShown - spawned,
                tIdle - spawned, StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    return code;
}

struct Run {
    double app, window, shown, idle;
    long rss, hwm;
};

bool Spawn(const char *self, bool real, Run &run)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char *> args{const_cast<char *>(self), const_cast<char *>("--child")};
    if (real)
        args.push_back(const_cast<char *>("--real"));
    args.push_back(const_cast<char *>("--spawned"));
    args.push_back(nullptr); // filled below, just before the spawn
    args.push_back(nullptr);
    char buf[64];
    const double spawned = MonotonicSeconds();
    std::snprintf(buf, sizeof buf, "%.9f", spawned);
    args[args.size() - 2] = buf;
    pid_t pid = 0;
    const int err = posix_spawn(&pid, self, &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (err != 0) {
        close(fds[0]);
        std::fprintf(stderr, "bench_startup: spawn: %s\n", std::strerror(err));
        return false;
    }
    std::string out;
    char chunk[256];
    ssize_t n = 0;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            out.append(chunk, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    return std::sscanf(out.c_str(), "%lf %lf %lf %lf %ld %ld", &run.app, &run.window, &run.shown, &run.idle,
                       &run.rss, &run.hwm) == 6;
}

void PrintRow(const char *name, std::vector<double> values, const char *format)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%-28s", name);
    for (double v : {values.front(), median, values.back()})
        std::printf(format, v);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 7;
    bool real = false;
    bool child = false;
    double spawned = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--child")
            child = true;
        else if (a == "--real")
            real = true;
        else if (a == "--spawned" && i + 1 < argc)
            spawned = std::strtod(argv[++i], nullptr);
        else if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: bench_startup [--runs N] [--real]\n");
            return 64;
        }
    }
    if (child) {
        int qtArgc = 1;
        return Child(qtArgc, argv, spawned, real);
    }

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt's glib event dispatcher emits aboutToBlock at the start of every
    // wait, before the pending events are handled; its own dispatcher emits
    // it only once nothing is left, which is the moment measured here.
    setenv("QT_NO_GLIB", "1", 1);
    char dir[] = "/tmp/bench_startup.XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("bench_startup: mkdtemp");
        return 1;
    }
    for (const char *var : {"TMPDIR", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        setenv(var, dir, 1);

    std::vector<Run> results;
    for (int i = 0; i <= runs; ++i) {
        Run run{};
        if (!Spawn("/proc/self/exe", real, run)) {
            std::fprintf(stderr, "bench_startup: run %d failed\n", i);
            return 1;
        }
        if (i > 0) // the first run warms the caches
            results.push_back(run);
    }
    std::filesystem::remove_all(dir);

    auto column = [&](auto field) {
        std::vector<double> v;
        for (const Run &r : results)
            v.push_back(field(r));
        return v;
    };
    std::printf("window start-up, %s, %d runs (QT_QPA_PLATFORM=%s)\n",
                real ? "no detector" : "simulated detector", runs, std::getenv("QT_QPA_PLATFORM"));
    std::printf("%-28s%10s%10s%10s\n", "from process start", "min", "median", "max");
    PrintRow("application made (s)", column([](const Run &r) { return r.app; }), "%10.4f");
    PrintRow("window made (s)", column([](const Run &r) { return r.window; }), "%10.4f");
    PrintRow("window shown (s)", column([](const Run &r) { return r.shown; }), "%10.4f");
    PrintRow("shown and idle (s)", column([](const Run &r) { return r.idle; }), "%10.4f");
    PrintRow("VmRSS at idle (MB)", column([](const Run &r) { return r.rss / 1024.0; }), "%10.1f");
    PrintRow("VmHWM at idle (MB)", column([](const Run &r) { return r.hwm / 1024.0; }), "%10.1f");
    std::printf("targets: idle under 0.5 s, memory under 80 MB\n");
    return 0;
}
