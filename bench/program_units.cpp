// Programming many units in one run against the simulated detector at 115200
// baud: time per unit against the line work it needs, and memory as the run
// grows.
//
// The rig. One simulated detector in this process answers with its replies
// paced at 115200 baud (its requests arrive at once). A technician stand-in
// presents a fresh unit (its own serial, the factory configuration) when the
// run looks for one and takes it away (the detector stops answering) as soon
// as its line is out; the run's wait for removal is shortened by its knobs
// (no pause between tries, gone after the first try without an answer), and
// the success beep holds the link for no time, as the wire bound below has
// no beep either.
//
// The bound. The same line work done plainly, each on one connection: wake
// the detector, identity and product check, both blocks read, the template's
// ranges written, both blocks read back, end of connection. Its median over
// the units is "read + write + read-back on the wire".
//
// Per unit. From the moment the unit is presented to the moment its line is
// out: the quiet try that finds it, the unit's job (read, compare, write,
// read back, beep, record) and the bookkeeping between. The whole run's time
// per unit (with the tries that see the unit gone) is printed too.
//
// Memory. The process's peak resident size at the end; run it with --units 20
// and --units 200 and compare.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <QCoreApplication>

#include "app/config_jobs.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/status.h"
#include "link/tamsel_comms.h"
#include "sim/sim_detector.h"
#include "sim/sim_memory.h"
#include "tools/program_units.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Mean(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

class TQuietScreen : public IScreen {
public:
    void SetStatus(RColor, RColor, const std::string &) override {}
    void ProcessMessages() override {}
    void Message(const std::string &caption, const std::string &text, MsgIcon) override
    {
        std::fprintf(stderr, "box %s: %s\n", caption.c_str(), text.c_str());
    }
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
    std::optional<std::string> ChooseOpenFile(const FileChoice &) override { return std::nullopt; }
    std::optional<std::string> ChooseSaveFile(const FileChoice &) override { return std::nullopt; }
    void AppendTraffic(const std::string &) override {}
    void JournalWarning(const std::string &text) override { std::fprintf(stderr, "record: %s\n", text.c_str()); }
};

// A unit as it leaves the factory, with serial number `n`.
void Present(SimDetector &sim, int n)
{
    char serial[11];
    std::snprintf(serial, sizeof serial, "BN%08d", n);
    auto config = SimDefaultConfig();
    std::memcpy(config.data() + kSimSerialAddress, serial, 10);
    SimSealBlock(config, kSimUnitBlock);
    SimIdentity identity;
    std::memcpy(identity.mSerial, serial, 10);
    sim.SetConfig(config);
    sim.SetIdentity(identity);
    SimOptions o = sim.Options();
    o.absent = false;
    sim.SetOptions(o);
}

void TakeAway(SimDetector &sim)
{
    SimOptions o = sim.Options();
    o.absent = true;
    sim.SetOptions(o);
}

RConfigTemplate SiteTemplate()
{
    RConfigTemplate tpl;
    tpl.mName = "bench";
    tpl.mVersion = 1;
    tpl.mHash = std::string(64, '0');
    tpl.mSensor = 1;
    tpl.mFields = {{FindConfigField("mUserID"), {{}, "BENCH1"}},
                   {FindConfigField("mAlarmHigh"), {{200}, ""}},
                   {FindConfigField("mAlarmLow"), {{120}, ""}},
                   {FindConfigField("mBumpInterval"), {{14}, ""}}};
    return tpl;
}

class TBenchTechnician : public IProgramView {
public:
    explicit TBenchTechnician(SimDetector &sim) : FSim(sim) {}
    void WaitingForUnit(int number) override
    {
        Present(FSim, number);
        FPresented = Clock::now();
    }
    void UnitDone(const RUnitReport &report) override
    {
        perUnit.push_back(Ms(Clock::now() - FPresented));
        if (report.mOutcome != EUnitOutcome::kProgrammed)
            std::fprintf(stderr, "%s\n", UnitLine(report, 0).c_str());
        TakeAway(FSim);
    }
    std::vector<double> perUnit;

private:
    SimDetector &FSim;
    Clock::time_point FPresented;
};

} // namespace

int main(int argc, char **argv)
{
    int units = 200;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--units" && i + 1 < argc) {
            units = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: bench_program_units [--units N]\n");
            return 64;
        }
    }
    if (units < 1)
        units = 1;
    QCoreApplication app(argc, argv);

    SimOptions o;
    o.paced = true;
    SimDetector sim(o);
    if (!sim.Start()) {
        std::fprintf(stderr, "no simulated detector: %s\n", sim.Error().c_str());
        return 1;
    }
    TSession session;
    session.ChoosePort("", sim.DevicePath());
    TQuietScreen screen;
    const RConfigTemplate tpl = SiteTemplate();

    // The bound: the same line work, plainly, on one connection a unit;
    // half of it before the run and half after, so that a change of the
    // machine's load during the run weighs on both sides.
    std::vector<double> wire;
    const int plain = std::min(units, 50);
    int serial = 100000;
    const auto plainUnits = [&](int count) {
        for (int n = 0; n < count; ++n) {
            Present(sim, ++serial);
            const auto t0 = Clock::now();
            const ROpResult op = RunJob(session, screen, {kJobWrite, {}, [&]() -> uint8_t {
                TDetector detector(session);
                RTamselCFG held{}, sent{}, back{};
                uint8_t status = detector.ReadConfiguration(held);
                sent = held;
                std::string error;
                ApplyTemplate(sent, tpl, error);
                if (status == 0)
                    status = detector.WriteRanges(sent, RangesToWrite(held, sent, CFGWriteRanges(session.DeviceCFG)));
                if (status == 0)
                    status = detector.ReadConfig(back);
                return status;
            }});
            wire.push_back(Ms(Clock::now() - t0));
            if (!op.Ok()) {
                std::fprintf(stderr, "the plain line work failed: status %d\n", op.mStatus);
                std::exit(1);
            }
        }
    };
    plainUnits(plain / 2);

    // The run.
    TBenchTechnician tech(sim);
    RProgramKnobs knobs;
    knobs.mCount = units;
    knobs.mTrySeconds = 0;
    knobs.mGoneSeconds = 0;
    knobs.mWakeSeconds = 0.02f;
    knobs.mBeepSeconds = 0;
    TProgramRun run(session, screen, tech, tpl, knobs);
    const auto t0 = Clock::now();
    const RProgramSummary summary = run.Run();
    const double total = Ms(Clock::now() - t0);
    plainUnits(plain - plain / 2);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    const double bound = Median(wire);
    const double unit = Median(tech.perUnit);
    std::printf("units %d: %s\n", units, SummaryLine(summary).c_str());
    std::printf("read + write + read-back on the wire: median %.2f ms (%d units)\n", bound, plain);
    std::printf("per unit, presented to its line:      median %.2f ms, mean %.2f ms = %.3f x the wire\n", unit,
                Mean(tech.perUnit), unit / bound);
    std::printf("whole run per unit (with the tries that find it gone): %.2f ms\n", total / units);
    std::printf("peak resident size: %ld kB\n", usage.ru_maxrss);
    std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return summary.mProgrammed == units ? 0 : 1;
}
