#include "tools/program_units.h"

#include <QJsonArray>
#include <QJsonObject>

#include "app/clock.h"
#include "app/config_jobs.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/session.h"
#include "app/status.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"
#include "model/convert.h"
#include "model/visible_text.h"

namespace {

// Day counts carry seconds with a rounding error: a wait of exactly three
// seconds must not come out a hair short.
constexpr double kTimeSlack = 1e-3;

// The record's text of a unit: its line without the count.
std::string UnitText(const RUnitReport &r)
{
    const std::string serial = r.mSerial.empty() ? std::string("(no serial)") : VisibleLatin1(r.mSerial);
    switch (r.mOutcome) {
    case EUnitOutcome::kProgrammed:
        return serial + " programmed (" + std::to_string(r.mChanged) + (r.mChanged == 1 ? " field" : " fields") +
               " changed)";
    case EUnitOutcome::kUnchanged: return serial + " unchanged (already equal)";
    case EUnitOutcome::kFailed: break;
    }
    return serial + " failed: " + r.mWhy;
}

// A status byte in words, on one line.
std::string StatusWords(uint8_t status)
{
    std::string message = StatusMessage(status);
    for (size_t at; (at = message.find('\r')) != std::string::npos;)
        message.replace(at, 1, " / ");
    return "status " + std::to_string(status) + (message.empty() ? "" : " (" + message + ")");
}

std::string SensorName(uint8_t code, const std::vector<RSensorType> &types)
{
    const int at = FindSensorType(code, types);
    return std::to_string(code) + (at < 0 ? "" : " (" + types[static_cast<size_t>(at)].mName + ")");
}

QString Hex(const RTamselCFG &cfg)
{
    return QString::fromStdString(HexText(reinterpret_cast<const uint8_t *>(&cfg), sizeof cfg));
}

} // namespace

std::string UnitLine(const RUnitReport &report, int count)
{
    return UnitText(report) + " [" + std::to_string(report.mNumber) +
           (count > 0 ? "/" + std::to_string(count) : std::string()) + "]";
}

std::string SummaryLine(const RProgramSummary &s)
{
    return "programmed " + std::to_string(s.mProgrammed) + ", unchanged " + std::to_string(s.mUnchanged) +
           ", failed " + std::to_string(s.mFailed);
}

TProgramRun::TProgramRun(TSession &session, IScreen &screen, IProgramView &view, RConfigTemplate tpl,
                         RProgramKnobs knobs)
    : FSession(session), FScreen(screen), FView(view), FTemplate(std::move(tpl)), FKnobs(knobs)
{
}

std::string TProgramRun::Refusal() const
{
    const std::vector<std::string> problems = CFGWriteRangeProblems(FSession.DeviceCFG);
    if (!problems.empty()) {
        std::string text = "the settings' write ranges leave the record:";
        for (const std::string &p : problems)
            text += " " + p + ";";
        text.pop_back();
        return text;
    }
    if (FTemplate.mFields.empty())
        return "template " + FTemplate.mName + " sets no field";
    const std::vector<const RConfigField *> outside = FieldsOutside(FTemplate, CFGWriteRanges(FSession.DeviceCFG));
    if (!outside.empty())
        return FieldNames(outside) + (outside.size() == 1 ? " lies" : " lie") +
               " outside every write range of the settings in force";
    if (const RConfigProblem problem = TemplateWriteProblem(FSession, FTemplate); problem.Found())
        return "template " + FTemplate.mName + ": " + problem.Line();
    return {};
}

void TProgramRun::Finish()
{
    FState = EState::kFinished;
    FView.Finished(FSummary);
}

TDateTime TProgramRun::Pass()
{
    IClock &clock = FSession.Clock();
    if (FState == EState::kFinished)
        return kDueNever;
    if (FState == EState::kStart) {
        if (!Refusal().empty()) {
            Finish();
            return kDueNever;
        }
        FState = EState::kLooking;
        FNumber = 1;
        FDue = clock.Now();
        FView.WaitingForUnit(FNumber);
    }
    if (FStopAsked) {
        Finish();
        return kDueNever;
    }
    const TDateTime now = clock.Now();
    if (now < FDue)
        return FDue;
    // A unit found is programmed at once: it may stay awake for its job. One
    // that is waited away is put back to sleep after each answer.
    const bool looking = FState == EState::kLooking;
    const bool answered = FSession.Link().Probe(FKnobs.mWakeSeconds, !looking) == 0;
    if (looking) {
        if (answered) {
            const RUnitReport report = ProgramUnit(FNumber);
            switch (report.mOutcome) {
            case EUnitOutcome::kProgrammed: ++FSummary.mProgrammed; break;
            case EUnitOutcome::kUnchanged: ++FSummary.mUnchanged; break;
            case EUnitOutcome::kFailed: ++FSummary.mFailed; break;
            }
            FView.UnitDone(report);
            if (FStopAsked || (FKnobs.mCount > 0 && FNumber >= FKnobs.mCount)) {
                Finish();
                return kDueNever;
            }
            FState = EState::kWaitingRemoval;
            FLastAnswer = clock.Now();
        }
    } else if (answered) {
        FLastAnswer = clock.Now();
    } else if ((clock.Now() - FLastAnswer) * kSecondsPerDayF >= FKnobs.mGoneSeconds - kTimeSlack) {
        FState = EState::kLooking;
        ++FNumber;
        FView.WaitingForUnit(FNumber);
    }
    FDue = AddSeconds(now, FKnobs.mTrySeconds);
    return FDue;
}

RProgramSummary TProgramRun::Run(const std::function<bool()> &stopAsked)
{
    while (!Finished()) {
        if (stopAsked && stopAsked())
            Stop();
        const TDateTime due = Pass();
        if (!Finished())
            FSession.Clock().SleepUntil(due);
    }
    return FSummary;
}

RUnitReport TProgramRun::ProgramUnit(int number)
{
    RUnitReport r;
    r.mNumber = number;
    TDetector detector(FSession);
    TComTamsel &link = detector.Link();
    const std::vector<RSensorType> &types = FSession.SensorTypes;
    TDeviceJob job(FSession, FScreen, kJobProgram);
    QJsonObject data{{QLatin1String(journal_data::kTemplate),
                      QJsonObject{{QStringLiteral("name"), QString::fromStdString(FTemplate.mName)},
                                  {QStringLiteral("version"), FTemplate.mVersion},
                                  {QStringLiteral("hash"), QString::fromStdString(FTemplate.mHash)}}}};

    enum class EStep { kNothing, kRead, kWritten };
    EStep step = EStep::kNothing;
    RTamselIdenty identity{};
    RTamselCFG backup{}, sent{}, readBack{};
    std::vector<RCFGWriteRange> written;
    std::vector<const RConfigField *> differs;
    std::string sensorWhy;
    const auto beep = [&]() -> uint8_t {
        // The detector says it is done; a beep that fails takes nothing from the unit.
        if (link.AVOn(wire::kAvBeep) == 0) {
            const double seconds = FKnobs.mBeepSeconds >= 0 ? FKnobs.mBeepSeconds
                                                             : FSession.DeviceCFG.mAVOperate / 1000.0;
            WaitSeconds(static_cast<float>(seconds), [this] { FScreen.ProcessMessages(); });
        }
        return 0;
    };
    const ROpResult op = job.Linked("Program Unit", [&]() -> uint8_t {
        uint8_t status = detector.ReadConfiguration(backup, identity);
        if (status != 0)
            return status;
        step = EStep::kRead;
        sent = backup;
        std::string error;
        if (!ApplyTemplate(sent, FTemplate, error)) {
            sensorWhy = error;
            return kStatusRefused;
        }
        r.mChanged = static_cast<int>(ChangedFields(backup, sent).size());
        r.mDiff = DiffLines(backup, sent, types);
        // Levels in tenths of a unit mean another thing on another sensor;
        // Write Device's own rule holds too.
        if (SetsSensorLevels(FTemplate) && FTemplate.mSensor != 0 && FTemplate.mSensor != identity.mSensor)
            sensorWhy = "the template's levels are for sensor " + SensorName(FTemplate.mSensor, types) +
                        ", this unit has " + SensorName(identity.mSensor, types);
        else if (FSession.UserMode && sent.mSensor.mSensorType != identity.mSensor)
            sensorWhy = "the record's sensor type " + SensorName(sent.mSensor.mSensorType, types) +
                        " is not the installed " + SensorName(identity.mSensor, types);
        if (!sensorWhy.empty())
            return kStatusSensorMismatch;
        // A template's alarm over the unit's own other alarm: the rule for
        // what is written judges the unit's record with the template over it.
        if (const RConfigProblem problem = ConfigWriteProblem(FSession.DeviceCFG, sent, types);
            TemplateSetsAlarms(FTemplate) && problem.Found()) {
            sensorWhy = problem.Line();
            return kStatusRefused;
        }
        written = RangesToWrite(backup, sent, CFGWriteRanges(FSession.DeviceCFG));
        if (written.empty())
            return beep();
        status = detector.WriteRanges(sent, written);
        if (status == 0)
            status = detector.ReadConfig(readBack);
        if (status != 0)
            return status;
        step = EStep::kWritten;
        differs = ReadBackDiffers(sent, readBack, written);
        return differs.empty() ? beep() : 0;
    });

    if (const auto &seen = link.Seen().mIdentity)
        r.mSerial = TrimText(CharFieldToStr(seen->mSerial));
    if (step != EStep::kNothing) {
        data.insert(QLatin1String(journal_data::kBackup), Hex(backup));
        data.insert(QLatin1String(journal_data::kChanges), ChangesJson(backup, sent));
    }
    if (op.mAborted) {
        r.mStatus = op.mStatus;
        r.mWhy = op.mError;
        data.insert(QStringLiteral("error"), QString::fromStdString(op.mError));
    } else if (op.mStatus != 0) {
        r.mStatus = op.mStatus;
        if (op.mStatus == kStatusRefused)
            r.mWhy = sensorWhy; // a value of the template that does not fit its field
        else
            r.mWhy = sensorWhy.empty() ? StatusWords(op.mStatus) : StatusWords(op.mStatus) + ": " + sensorWhy;
    } else if (step == EStep::kRead) {
        r.mOutcome = EUnitOutcome::kUnchanged;
        data.insert(QLatin1String(journal_data::kUnchanged), true);
    } else {
        data.insert(QLatin1String(journal_data::kReadBack),
                    differs.empty() ? QStringLiteral("equal") : QStringLiteral("differs"));
        if (differs.empty()) {
            r.mOutcome = EUnitOutcome::kProgrammed;
        } else {
            QJsonArray names;
            for (const RConfigField *f : differs)
                names.append(QString::fromLatin1(f->mName));
            data.insert(QLatin1String(journal_data::kReadBackFields), names);
            r.mStatus = kStatusNotDone;
            r.mWhy = "read-back differs in " + FieldNames(differs);
        }
    }
    // A read-back that differs is the unit's verdict, not a broken exchange.
    const bool readBackFailed = step == EStep::kWritten && !differs.empty();
    job.Finish(r.mStatus, UnitText(r), data, readBackFailed ? outcome::kFail : std::string());
    return r;
}
