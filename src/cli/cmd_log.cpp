// log --seconds N [--out FILE.csv] [--no-battery] [--no-temperature]:
// the sensor reading logger for N seconds, each reading on stdout. An --out
// file that cannot be made is reported before the detector is woken (or, at
// the latest, before the first reading); a run without a single reading is
// not a success. On a terminal, stderr shows the elapsed seconds meanwhile.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/session.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "cli/console.h"
#include "files/atomic_save.h"
#include "tools/sensor_logger.h"
#include "app/clock.h"

namespace {

// "elapsed/total s" on one terminal line, rewritten in place while logging;
// nothing at all when stderr is not a terminal (a pipe or a file).
class TLogProgress {
public:
    explicit TLogProgress(bool enabled, double total) : FEnabled(enabled), FTotal(total) {}
    ~TLogProgress() { Clear(); }

    void Update(double elapsed)
    {
        if (!FEnabled)
            return;
        const long shown = static_cast<long>(std::floor(std::clamp(elapsed, 0.0, FTotal)));
        if (FShown && shown == FLast)
            return;
        std::fprintf(stderr, "\r\033[KLogging %ld/%g s", shown, FTotal);
        std::fflush(stderr);
        FShown = true;
        FLast = shown;
    }
    // Takes the line away, so that other output starts on a clean line.
    void Clear()
    {
        if (!FShown)
            return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        FShown = false;
    }

private:
    bool FEnabled;
    double FTotal;
    bool FShown = false;
    long FLast = -1;
};

int FileNotCreated(const std::string &path, const std::string &why)
{
    std::cerr << "The log file could not be created: " << path << (why.empty() ? "" : " (" + why + ")")
              << std::endl;
    return kExitFile;
}

class TCliLogView : public ISensorLogView {
public:
    explicit TCliLogView(TLogProgress &progress) : FProgress(progress) {}

    void LogStateChanged(bool) override {}
    void CommandButtonsEnabled(bool) override {}
    void CalLabelChanged(const std::string &, RColor) override {}
    void CalProgressChanged(int, int) override {}
    void CalProgLabelChanged(const std::string &) override {}
    void ChartReset(double, double, double) override {}
    void ChartAdded(const RChartPoint &) override {}
    void ChartMoved(double, double, const std::vector<RChartPoint> &) override {}

    void ReadingShown(const RSensorLogDisplay &d) override
    {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1f s", d.mElapsed);
        std::string line = std::string(elapsed) + ": Sensor " + d.mSensorValue + ", Peak " + d.mSensorPeak +
                           ", Battery " + d.mBatteryValue + ", Battery ADC " + d.mBatteryAdc + ", Temperature " +
                           d.mTemperatureValue + ", Temperature ADC " + d.mTemperatureAdc;
        std::string flags;
        for (size_t i = 0; i < kHistoryFlags.size(); ++i)
            if (d.mHistory[i])
                flags += (flags.empty() ? "" : ", ") + std::string(kHistoryFlags[i].mCaption);
        for (size_t i = 0; i < kAlarmFlags.size(); ++i)
            if (d.mAlarm[i])
                flags += (flags.empty() ? "" : ", ") + std::string(kAlarmFlags[i].mCaption);
        if (!flags.empty())
            line += " [" + flags + "]";
        FProgress.Clear();
        std::cout << line << std::endl;
    }

private:
    TLogProgress &FProgress;
};

bool ParseSeconds(const std::string &text, double &seconds)
{
    try {
        size_t used = 0;
        seconds = std::stod(text, &used);
        return used == text.size() && std::isfinite(seconds) && seconds >= 0;
    } catch (...) {
        return false;
    }
}

int Log(CliContext &c)
{
    std::string secondsText;
    std::string out;
    if (!TakeOption(c.args, "--seconds", secondsText))
        return kExitUsage;
    const bool toFile = TakeOption(c.args, "--out", out);
    const bool noBattery = TakeFlag(c.args, "--no-battery");
    const bool noTemperature = TakeFlag(c.args, "--no-temperature");
    double seconds = 0;
    if (!c.args.empty())
        return kExitUsage;
    if (!ParseSeconds(secondsText, seconds))
        return UsageError(c, "--seconds needs a number of seconds from 0 up, not '" + secondsText + "'");

    if (toFile) {
        const std::string problem = OutFileProblem(out);
        if (!problem.empty())
            return FileNotCreated(out, problem);
    }

    IClock &clock = c.session.Clock();
    TLogProgress progress(StderrIsTerminal(), seconds);
    TCliLogView view(progress);
    TSensorLogger logger(c.session, c.screen, view);
    logger.Reset();
    logger.SetPollBattery(!noBattery);
    logger.SetPollTemperature(!noTemperature);
    logger.SetFileRequired(toFile);
    if (toFile)
        c.screen.FFiles.push_back(out);
    if (!logger.Start()) {
        if (logger.FileFailed())
            return FileNotCreated(out, {});
        return static_cast<int>(logger.EndStatus());
    }
    const TDateTime start = clock.Now();
    logger.Run(AddSeconds(start, seconds),
               [&] { progress.Update((clock.Now() - start) * kSecondsPerDayF); });
    progress.Clear();
    if (logger.EndStatus() != 0)
        return static_cast<int>(logger.EndStatus());
    if (logger.Readings() == 0) {
        std::cerr << "No reading arrived in " << secondsText
                  << " seconds\nCheck Norvik and Beamport connection" << std::endl;
        return kExitNotDone;
    }
    if (toFile && (logger.FileFailed() || !std::filesystem::exists(out))) {
        std::cerr << "The log file could not be written: " << out << std::endl;
        return kExitFile;
    }
    return 0;
}

} // namespace

CliEntry LogCommand()
{
    return {"log", "log --seconds N [--out FILE.csv] [--no-battery] [--no-temperature]", "the sensor reading logger",
            "The sensor reading logger for N seconds: gas reading, peak, battery and temperature with their raw "
            "counts and the detector's flags, one line a reading on stdout. A run that brings no reading at all "
            "exits 68. On a terminal, stderr shows the seconds elapsed.",
            {{"--seconds N", "how long to log (required; a number of seconds)"},
             {"--out FILE.csv", "also writes the readings to FILE.csv, as the window's logger does; a file that "
                                "cannot be made is reported before the detector is woken"},
             {"--no-battery", "does not ask for the battery reading"},
             {"--no-temperature", "does not ask for the temperature reading"}},
            Log};
}
