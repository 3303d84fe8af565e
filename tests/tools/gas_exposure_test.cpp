// One exposure on the simulated detector and a fake clock: a clean-air watch,
// the "Apply gas" step and the watch after it, driven by scripted technicians
// (early gas, no gas, a Confirm, a stop, the port going away).
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/gas_exposure.h"
#include "tools_fixture.h"

using namespace toolstest;

namespace {

// The owner's side: three clean-air readings, then "Apply gas"; under gas a
// reading of 10 ppm or more is the verdict. Every turn is written down.
class TScriptedRules : public IExposureRules {
public:
    TGasExposure *x = nullptr;
    int changeLimit = 0;
    std::vector<std::string> events;
    std::function<void()> onStep;
    bool stepped = false, closed = false;
    int baseline = 0;

    void ExposureReading(const RTamselSensor &, int32_t, TDateTime) override {}
    void StepBegins(EGasStep step, TDateTime) override
    {
        events.push_back(step == EGasStep::kApply ? "apply" : "remove");
        if (onStep)
            onStep();
    }
    void WatchBegins(EGasStep, TDateTime) override { events.push_back("watch"); }
    void WatchReading(const RTamselSensor &, int32_t tenths, TDateTime now) override
    {
        if (!stepped) {
            if (++baseline < 3)
                return;
            stepped = true;
            events.push_back("baseline");
            RGasChange change;
            change.mFrom = tenths;
            change.mThreshold = RGasChange::Threshold(0, 250);
            x->ShowStep(EGasStep::kApply, now, change, changeLimit, 5);
        } else if (tenths >= 100) {
            Close("gas seen", false);
        }
    }
    void WatchOver(TDateTime) override { Close(stepped ? "over" : "no baseline", false); }
    void StepWaitOver(EGasStep) override { Close("nobody came", false); }
    void ExposureEnded(EExposureEnd end, uint8_t, const std::string &) override
    {
        Close(end == EExposureEnd::kStopped ? "stopped" : end == EExposureEnd::kAborted ? "aborted" : "link failed",
              end == EExposureEnd::kAborted);
    }

private:
    void Close(const char *what, bool aborted)
    {
        events.push_back(what);
        closed = true;
        x->Close(aborted);
    }
};

enum class EAct { kNone, kConfirm, kStop, kVanish };

class GasExposureTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        SimOptions o;
        o.response_seconds = 0.001;
        StartSim(o);
        rules.x = &exposure;
    }

    TScriptedRules rules;
    TGasExposure exposure{session, screen, rules};
};

} // namespace

TEST_F(GasExposureTest, ScriptedTechnicians)
{
    using S = TGasExposure::EStage;
    const struct {
        const char *name;
        bool confirm;
        int changeLimit;
        bool gasAtStep; // the technician applies the gas as the step is shown
        EAct act;
        S actIn;        // the stage the act comes in
        std::vector<std::string> events;
        int waits = 0;  // seconds of waits the script runs into, at least (on the fake clock)
    } cases[] = {
        {"gas before the Confirm opens the watch", true, 0, true, EAct::kNone, S::kStep,
         {"baseline", "apply", "watch", "gas seen"}},
        {"a Confirm opens the watch", true, 0, false, EAct::kConfirm, S::kStep,
         {"baseline", "apply", "watch", "over"}, 5},
        {"nobody confirms", true, 0, false, EAct::kNone, S::kStep, {"baseline", "apply", "nobody came"}, 600},
        {"nobody confirms, the change wait aside", true, 5, false, EAct::kNone, S::kStep,
         {"baseline", "apply", "nobody came"}, 600},
        {"a script watches at once", false, 0, true, EAct::kNone, S::kStep,
         {"baseline", "apply", "watch", "gas seen"}},
        {"no change within the change wait", false, 5, false, EAct::kNone, S::kStep,
         {"baseline", "apply", "watch", "over"}, 10},
        {"a Confirm, then no change", true, 5, false, EAct::kConfirm, S::kStep,
         {"baseline", "apply", "watch", "over"}, 10},
        {"stopped in the clean-air watch", true, 0, false, EAct::kStop, S::kWatch, {"stopped"}},
        {"stopped at the step", true, 0, false, EAct::kStop, S::kStep, {"baseline", "apply", "stopped"}},
        {"stopped in the change wait", true, 5, false, EAct::kStop, S::kChange, {"baseline", "apply", "stopped"}},
        {"the adapter goes away mid-watch", false, 0, false, EAct::kVanish, S::kWatch,
         {"baseline", "apply", "watch", "link failed"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim->RemoveGas();
        rules = TScriptedRules{};
        rules.x = &exposure;
        rules.changeLimit = c.changeLimit;
        if (c.gasAtStep)
            rules.onStep = [this] { sim->ApplyGas(25.0); };
        exposure.SetConfirmSteps(c.confirm);
        // Every act but a stop in the clean-air watch comes after the baseline.
        const bool afterBaseline = c.act != EAct::kStop || c.actIn != S::kWatch;
        ASSERT_TRUE(exposure.Open(true));
        exposure.Watch(clock.Now(), 30);
        const TDateTime begun = clock.Now();
        bool acted = false, confirmed = false;
        for (int guard = 0; guard < 10000 && !rules.closed; ++guard) {
            const bool inStage = exposure.Stage() == c.actIn && (rules.stepped == afterBaseline);
            // A stop in the change wait needs the Confirm that opens it.
            if (!confirmed && c.actIn == S::kChange && exposure.Stage() == S::kStep) {
                exposure.Confirm(clock.Now());
                confirmed = true;
            }
            if (!acted && inStage) {
                acted = true;
                if (c.act == EAct::kConfirm)
                    exposure.Confirm(clock.Now());
                else if (c.act == EAct::kStop)
                    exposure.Stop();
                else if (c.act == EAct::kVanish)
                    sim->Vanish();
            }
            exposure.Pass();
            if (!rules.closed)
                clock.SleepUntil(exposure.NextDue());
        }
        EXPECT_EQ(rules.events, c.events);
        EXPECT_GE((clock.Now() - begun) * 86400.0, c.waits);
        EXPECT_FALSE(exposure.IsOpen());
        EXPECT_EQ(exposure.Stage(), S::kClosed);
        if (c.act == EAct::kVanish) {
            EXPECT_EQ(screen.adapterTrouble.size(), 1u); // the screen was told
            break; // the simulated port is gone for good
        }
    }
    // A port that cannot be opened: the error box, and the owner told at once.
    rules = TScriptedRules{};
    rules.x = &exposure;
    UsePort(Path("no-such-tty"));
    const size_t boxes = screen.messages.size();
    EXPECT_FALSE(exposure.Open(true));
    EXPECT_EQ(rules.events, (std::vector<std::string>{"aborted"}));
    EXPECT_EQ(screen.messages.size(), boxes + 1);
}

TEST(GasChangeTest, TheReadingsShowTheChange)
{
    const struct {
        std::optional<int32_t> from;
        int direction;
        int32_t threshold, tenths;
        bool shown;
    } cases[] = {
        {0, 1, 3, 3, true},      {0, 1, 3, 2, false},  {0, 1, 3, -5, false}, // up from clean air
        {209, -1, 6, 203, true}, {209, -1, 6, 204, false},                   // oxygen falls under gas
        {250, -1, 50, 199, true}, {250, -1, 50, 260, false},                 // back from the peak
        {std::nullopt, 1, 3, 1000, false},                                   // no reading to start from
    };
    for (const auto &c : cases)
        EXPECT_EQ((RGasChange{c.from, c.direction, c.threshold}.ShownBy(c.tenths)), c.shown)
            << c.from.value_or(-1) << " -> " << c.tenths;
    EXPECT_EQ(RGasChange::Threshold(0, 250), 50);
    EXPECT_EQ(RGasChange::Threshold(209, 195), 3); // never below 0.3 of the unit
}
