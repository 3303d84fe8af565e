#pragma once
// Programming units one after another with one template: wait until a
// detector answers in front of the adapter, read it, write the template's
// fields through the settings' write ranges, read it back and compare every
// written byte, beep, and wait until it is taken away before the next.
//
// Waiting never floods the line: one short try a second (TComTamsel::Probe).
// A detector that has not answered for a few seconds (3 by default) counts as
// taken away. Each unit is one "program" job with one record; the run keeps
// no more of a unit than the summary's counts, so hundreds of units take no
// more memory than one.
//
// The run is driven step by step, as the sensor tools are: Pass does what is
// due now (a try, or the job of a unit that answered) and says when it wants
// the next pass; the dialog calls it from its timer, the command line through
// Run on the session's clock.
#include <functional>
#include <string>
#include <vector>

#include "app/config_template.h"
#include "model/datetime.h"

class IScreen;
class TSession;

struct RProgramKnobs {
    int mCount = 0;             // units to program; 0: until stopped
    double mTrySeconds = 1.0;   // from one try to find a detector to the next
    double mGoneSeconds = 3.0;  // no answer this long after a unit: it was taken away
    float mWakeSeconds = 0.1f;  // how long one try sends wake-up frames
    double mBeepSeconds = -1;   // how long the success beep holds the link; below 0: the actuator tests' time
};

enum class EUnitOutcome { kProgrammed, kUnchanged, kFailed };

// What became of one unit.
struct RUnitReport {
    int mNumber = 0;         // 1 for the first unit of the run
    std::string mSerial;     // as its identity gives it; empty when it was not read
    EUnitOutcome mOutcome = EUnitOutcome::kFailed;
    int mChanged = 0;        // fields that were (or would have been) changed
    std::vector<std::string> mDiff; // "field: detector -> template"
    uint8_t mStatus = 0;     // the record's status: a status byte, kJobRefused or kJobNotDone; 0 on success
    std::string mWhy;        // for a failure: what went wrong, in words
};
// "SH24031507 programmed (2 fields changed) [1/3]", "... unchanged (already
// equal) [2/3]", "... failed: read-back differs in mAlarmHigh [4/4]"; without
// a count "[n]".
std::string UnitLine(const RUnitReport &report, int count);

struct RProgramSummary {
    int mProgrammed = 0;
    int mUnchanged = 0;
    int mFailed = 0;
    int Units() const { return mProgrammed + mUnchanged + mFailed; }
};
// "programmed 3, unchanged 0, failed 1"
std::string SummaryLine(const RProgramSummary &summary);

// How the run reaches the user besides IScreen (the dialog's list, the
// command line's lines).
class IProgramView {
public:
    virtual ~IProgramView() = default;
    // From now on the run looks for unit `number`.
    virtual void WaitingForUnit(int number) { (void)number; }
    // A unit is done; the run waits for it to be taken away (unless it ends).
    virtual void UnitDone(const RUnitReport &report) = 0;
    // The run is over.
    virtual void Finished(const RProgramSummary &summary) { (void)summary; }
};

class TProgramRun {
public:
    TProgramRun(TSession &session, IScreen &screen, IProgramView &view, RConfigTemplate tpl, RProgramKnobs knobs);

    // Why the run may not start, naming the fields: a field of the template
    // outside every write range of the settings in force, or write ranges
    // that leave the record. Empty when it may.
    std::string Refusal() const;

    // Does what is due now and returns when the next pass is due (kDueNever
    // once finished). Starts the run on its first call; a run that is refused
    // finishes at once.
    TDateTime Pass();
    // Ends the run after the unit under way (at once while it waits).
    void Stop() { FStopAsked = true; }
    bool Finished() const { return FState == EState::kFinished; }
    const RProgramSummary &Summary() const { return FSummary; }
    const RConfigTemplate &Template() const { return FTemplate; }

    // Passes until the run is finished, sleeping on the session's clock in
    // between; stopAsked is asked before each pass.
    RProgramSummary Run(const std::function<bool()> &stopAsked = {});

private:
    enum class EState { kStart, kLooking, kWaitingRemoval, kFinished };
    void Finish();
    RUnitReport ProgramUnit(int number);

    TSession &FSession;
    IScreen &FScreen;
    IProgramView &FView;
    RConfigTemplate FTemplate;
    RProgramKnobs FKnobs;
    EState FState = EState::kStart;
    bool FStopAsked = false;
    int FNumber = 0;            // the unit looked for or last done
    TDateTime FLastAnswer = 0;  // the last time the unit being taken away answered
    TDateTime FDue = 0;
    RProgramSummary FSummary;
};
