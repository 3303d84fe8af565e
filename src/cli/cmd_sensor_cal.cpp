// sensor-cal [--span VALUE]: the Sensor Calibration flow. Reads the
// detector's configuration, opens the calibration for its sensor type, then
// runs the procedure and prints each status line as it changes.
#include <cmath>
#include <iostream>
#include <string>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "tools/sensor_cal.h"
#include "tools/tool_clock.h"

namespace {

class TCliCalView : public ISensorCalView {
public:
    void CaptionChanged(const std::string &text) override { std::cout << text << std::endl; }
    void SpanRangeChanged(double, double) override {}
    void SpanValueChanged(double) override {}
    void UnitChanged(const std::string &) override {}
    void RunningChanged(bool) override {}
    void CalProgressChanged(int, int) override {}
    void StatusLineChanged(int line, const std::string &text, RColor) override
    {
        if (line < 0 || line > 2 || FLines[line] == text)
            return;
        FLines[line] = text;
        if (!text.empty())
            std::cout << text << std::endl;
    }

private:
    std::string FLines[3];
};

int ExitCode(const TSensorCalibration &cal)
{
    switch (cal.Outcome()) {
    case ECalOutcome::kOk: return 0;
    case ECalOutcome::kFailed: return 177;   // the detector reported a failed calibration
    case ECalOutcome::kTimeOut: return 162;  // no end reported in time
    case ECalOutcome::kUserStop: return 134;
    case ECalOutcome::kNotPrepared:
    case ECalOutcome::kStartFailed:
    case ECalOutcome::kAborted: return cal.OutcomeStatus() != 0 ? cal.OutcomeStatus() : 148;
    case ECalOutcome::kNone: break;
    }
    return 148;
}

const CliCommand kSensorCal("sensor-cal", "sensor-cal [--span VALUE]      the Sensor Calibration flow", [](CliContext &c) {
    std::string spanText;
    const bool haveSpan = TakeOption(c.args, "--span", spanText);
    if (!c.args.empty())
        return kExitUsage;
    double span = 0;
    if (haveSpan) {
        try {
            size_t used = 0;
            span = std::stod(spanText, &used);
            if (used != spanText.size() || !std::isfinite(span))
                return kExitUsage;
        } catch (...) {
            return kExitUsage;
        }
    }

    // As the window's "Sensor Calibration" button: the detector's record first.
    RMainState state;
    TDeviceActions actions(c.link, c.screen, state);
    const ROpResult read = RunLinked(c.screen, c.link, [&]() { return actions.ReadDeviceConfig(); });
    if (read.mAborted)
        return static_cast<int>(read.mStatus);
    if (read.mStatus != 0) {
        ShowResult(c.screen, read.mStatus, "Read sensor information");
        return static_cast<int>(read.mStatus);
    }

    TRealToolClock clock;
    TCliCalView view;
    TSensorCalibration cal(c.link, c.screen, view, clock);
    if (!cal.Open(state.FTamselCFG))
        return 148; // "Sensor type is wrong"
    if (haveSpan)
        cal.SetSpanEntry(span);
    if (cal.Start())
        cal.Run();
    return ExitCode(cal);
});

} // namespace
