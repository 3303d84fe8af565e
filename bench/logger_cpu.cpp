// CPU share of a sensor logging run: the logger polls an in-process simulated
// detector paced at 115200 baud every DeviceCFG.mLogInterval seconds (gas,
// battery and temperature) and writes the CSV, for the given number of
// seconds (default 60). Only the logging thread is counted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>

#include "app/clock.h"
#include "app/screen.h"
#include "app/session.h"
#include "sim/sim_detector.h"
#include "tools/sensor_logger.h"

namespace {
double ThreadCpu()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class QuietScreen : public IScreen {
public:
    std::string file;
    void SetStatus(RColor, RColor, const std::string &) override {}
    void ProcessMessages() override {}
    void Message(const std::string &caption, const std::string &text, MsgIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
    std::optional<std::string> ChooseOpenFile(const FileChoice &) override { return file; }
    std::optional<std::string> ChooseSaveFile(const FileChoice &) override { return file; }
    void AppendTraffic(const std::string &) override {}
};

class CountingView : public ISensorLogView {
public:
    int readings = 0;
    void LogStateChanged(bool) override {}
    void CommandButtonsEnabled(bool) override {}
    void CalLabelChanged(const std::string &, RColor) override {}
    void CalProgressChanged(int, int) override {}
    void CalProgLabelChanged(const std::string &) override {}
    void ReadingShown(const RSensorLogDisplay &) override { ++readings; }
    void ChartReset(double, double, double) override {}
    void ChartAdded(const RChartPoint &) override {}
    void ChartMoved(double, double, const std::vector<RChartPoint> &) override {}
};
} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    SimOptions options;
    options.paced = true;
    options.latency_us = 200;
    SimDetector sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
        return 1;
    }
    const auto csv = std::filesystem::temp_directory_path() / "beamport-bench-log.csv";
    std::filesystem::remove(csv);

    // Remembered folders go to a scratch store, never the user's.
    const auto store = std::filesystem::temp_directory_path() / "beamport-bench-store.conf";
    TSession session(store.string());
    session.Link().SetPortChoice(sim.DevicePath());
    QuietScreen screen;
    screen.file = csv.string();
    CountingView view;
    IClock &clock = session.Clock();
    TSensorLogger logger(session, screen, view);
    logger.Reset();
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = ThreadCpu();
    if (!logger.Start()) {
        std::fprintf(stderr, "logging did not start: status %d\n", logger.EndStatus());
        return 1;
    }
    logger.Run(AddSeconds(clock.Now(), seconds));
    logger.Shutdown();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = ThreadCpu() - cpu0;
    std::printf("%-38s readings %5d  wall %7.1f s  cpu %6.3f s  cpu/wall %5.2f %%  (interval %d s)\n",
                "sensor logging run", view.readings, wall, cpu, 100.0 * cpu / wall, session.DeviceCFG.mLogInterval);
    std::filesystem::remove(csv);
    std::filesystem::remove(store);
    return 0;
}
