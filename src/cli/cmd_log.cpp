// log --seconds N [--out FILE.csv] [--no-battery] [--no-temperature]:
// the sensor reading logger for N seconds, each reading on stdout.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/status.h"
#include "cli/cli_commands.h"
#include "tools/sensor_logger.h"
#include "tools/tool_clock.h"

namespace {

class TCliLogView : public ISensorLogView {
public:
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
        std::cout << line << std::endl;
    }
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

const CliCommand kLog(
    "log", "log --seconds N [--out FILE.csv] [--no-battery] [--no-temperature]", [](CliContext &c) {
        std::string secondsText;
        std::string out;
        if (!TakeOption(c.args, "--seconds", secondsText))
            return kExitUsage;
        const bool toFile = TakeOption(c.args, "--out", out);
        const bool noBattery = TakeFlag(c.args, "--no-battery");
        const bool noTemperature = TakeFlag(c.args, "--no-temperature");
        double seconds = 0;
        if (!c.args.empty() || !ParseSeconds(secondsText, seconds))
            return kExitUsage;

        TRealToolClock clock;
        TCliLogView view;
        TSensorLogger logger(c.link, c.screen, view, clock);
        logger.Reset();
        logger.SetPollBattery(!noBattery);
        logger.SetPollTemperature(!noTemperature);
        if (toFile)
            c.screen.FFiles.push_back(out);
        if (!logger.Start())
            return static_cast<int>(logger.EndStatus());
        logger.Run(AddSeconds(clock.Now(), seconds));
        if (logger.EndStatus() != 0)
            return static_cast<int>(logger.EndStatus());
        if (toFile && (logger.FileFailed() || !std::filesystem::exists(out))) {
            std::cerr << "The log file could not be written: " << out << std::endl;
            return kExitFile;
        }
        return 0;
    });

} // namespace
