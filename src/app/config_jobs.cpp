#include "app/config_jobs.h"

#include <algorithm>
#include <cmath>

#include <QJsonObject>
#include <QString>

#include "app/device_job.h"
#include "app/journal.h"
#include "app/session.h"
#include "link/tamsel_comms.h"
#include "app/status.h"
#include "model/config_form.h"
#include "model/convert.h"
#include "model/visible_text.h"

namespace {

QString Hex(const RTamselCFG &cfg)
{
    return QString::fromStdString(HexText(reinterpret_cast<const uint8_t *>(&cfg), sizeof cfg));
}

std::string Trimmed(const std::string &text) { return TrimText(text); }

std::string SerialOf(const RTamselIdenty &identity) { return Trimmed(CharFieldToStr(identity.mSerial)); }

QJsonObject KeptRef(const RKeptConfig &kept)
{
    return {{QStringLiteral("id"), static_cast<qint64>(kept.mRecordId)},
            {QStringLiteral("time"), QString::fromStdString(kept.mTime)}};
}

} // namespace

ROpResult ReadDetector(TDeviceJob &job, TSession &session, RTamselCFG &cfg, RTamselIdenty &identity)
{
    // Read Device's own sequence over the default record: the editors stay as they are.
    RTamselCFG read = DefaultCFG();
    RTamselIdenty seen{};
    const ROpResult op = job.Run(kReadPrefix, [&] { return TDetector(session).ReadConfiguration(read, seen); });
    if (op.Ok()) {
        cfg = read;
        identity = seen;
    }
    return op;
}

RTamselCFG WriteDeviceOutcome(const TSession &session, const RTamselCFG &held, const RTamselCFG &sent)
{
    RTamselCFG after = AfterWrite(held, sent, CFGWriteRanges(session.DeviceCFG));
    if (!session.UserMode)
        after.mUnit.mLifeRemaining = sent.mUnit.mLifeRemaining;
    return after;
}

QJsonArray ChangesJson(const RTamselCFG &before, const RTamselCFG &after)
{
    QJsonArray changes;
    for (const RConfigField *f : ChangedFields(before, after))
        changes.append(QJsonObject{{QStringLiteral("field"), QString::fromLatin1(f->mName)},
                                   {QStringLiteral("before"), FieldValueToJson(*f, GetFieldValue(before, *f))},
                                   {QStringLiteral("after"), FieldValueToJson(*f, GetFieldValue(after, *f))}});
    return changes;
}

namespace {

bool TemplateSets(const RConfigTemplate &tpl, const char *name)
{
    const RConfigField *field = FindConfigField(name);
    return std::any_of(tpl.mFields.begin(), tpl.mFields.end(),
                       [&](const RTemplateField &f) { return f.mField == field; });
}

} // namespace

bool TemplateSetsAlarms(const RConfigTemplate &tpl)
{
    return TemplateSets(tpl, "mAlarmLow") || TemplateSets(tpl, "mAlarmHigh") || TemplateSets(tpl, "mSensorType");
}

RConfigProblem TemplateWriteProblem(const TSession &session, const RConfigTemplate &tpl)
{
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mSensorType = tpl.mSensor;
    std::string error;
    ApplyTemplate(cfg, tpl, error); // a value that does not fit its field is refused where it is read
    const auto sets = [&](const char *name) { return TemplateSets(tpl, name); };
    // The alarm the template leaves to the unit is taken next to the one it
    // sets, within the sensor's range (for oxygen the low alarm must lie
    // below the high one; elsewhere it may equal it): only the template's
    // own value can then be at fault, or an order no unit could satisfy.
    const int gap = ReadingFalls(cfg.mSensor.mSensorType) ? 1 : 0;
    int lo = 0, hi = 0xFFFF;
    if (const int at = FindSensorType(cfg.mSensor.mSensorType, session.SensorTypes); at >= 0) {
        const RSensorType &type = session.SensorTypes[static_cast<size_t>(at)];
        lo = static_cast<int>(std::lround(AlarmEditorMinimum(type) * 10.0));
        hi = static_cast<int>(std::lround(type.mMax * 10.0));
    }
    const auto within = [&](int v) { return static_cast<uint16_t>(std::clamp(v, lo, std::max(lo, hi))); };
    RTamselSensorCFG &s = cfg.mSensor;
    if (sets("mAlarmLow") && !sets("mAlarmHigh"))
        s.mAlarmHigh = within(s.mAlarmLow + gap);
    else if (sets("mAlarmHigh") && !sets("mAlarmLow"))
        s.mAlarmLow = within(s.mAlarmHigh - gap);
    // Without alarms of its own only the settings can be at fault: the unit's
    // alarms are judged with the unit.
    const bool levels = sets("mAlarmLow") || sets("mAlarmHigh");
    return ConfigWriteProblem(session.DeviceCFG, levels ? cfg : DefaultCFG(),
                              levels ? session.SensorTypes : std::vector<RSensorType>{});
}

namespace {

// Reads the detector in a job of its own and compares it with what `after`
// makes of its configuration; the record keeps the fields that would change.
RCompare Compare(TSession &session, IScreen &screen, const char *jobName, const std::string &words,
                 const std::function<RTamselCFG(const RTamselCFG &held)> &after, QJsonObject data = {})
{
    RCompare c;
    TDeviceJob job(session, screen, jobName);
    job.NameOnRecord(words);
    c.mRead = ReadDetector(job, session, c.mHeld, c.mIdentity);
    if (c.mRead.Ok()) {
        c.mAfter = after(c.mHeld);
        c.mLines = DiffLines(c.mHeld, c.mAfter, session.SensorTypes);
        data.insert(QLatin1String(journal_data::kChanges), ChangesJson(c.mHeld, c.mAfter));
    }
    job.Finish(data);
    return c;
}

QJsonObject TemplateRef(const RConfigTemplate &tpl)
{
    return {{QStringLiteral("name"), QString::fromStdString(tpl.mName)},
            {QStringLiteral("version"), tpl.mVersion},
            {QStringLiteral("hash"), QString::fromStdString(tpl.mHash)}};
}

} // namespace

RCompare CompareBeforeWrite(TSession &session, IScreen &screen, const RTamselCFG &sent)
{
    RCompare c = Compare(session, screen, kJobDiff, "Compare with the detector",
                         [&](const RTamselCFG &held) { return WriteDeviceOutcome(session, held, sent); });
    c.mSensorMismatch = c.Ok() && session.UserMode && sent.mSensor.mSensorType != c.mIdentity.mSensor;
    return c;
}

RCompare CompareWithTemplate(TSession &session, IScreen &screen, const RConfigTemplate &tpl)
{
    RCompare c = Compare(
        session, screen, kJobTemplateDiff, "Compare template " + tpl.mName + " with the detector",
        [&](const RTamselCFG &held) {
            RTamselCFG after = held;
            std::string error;
            ApplyTemplate(after, tpl, error); // a stored template's values fit their fields
            return after;
        },
        {{QLatin1String(journal_data::kTemplate), TemplateRef(tpl)}});
    c.mSensorMismatch = c.Ok() && SetsSensorLevels(tpl) && tpl.mSensor != 0 && tpl.mSensor != c.mIdentity.mSensor;
    return c;
}

std::string CompareText(const RCompare &compare, const std::vector<RSensorType> &types)
{
    // The fields as the window names them, a line each.
    std::string text;
    const std::vector<std::string> lines =
        compare.mLines.empty() ? std::vector<std::string>() : LabelledDiffLines(compare.mHeld, compare.mAfter, types);
    if (lines.empty()) {
        text = "The detector holds what Write Device would send: nothing would change.";
    } else {
        text = "Write Device would change " + std::to_string(lines.size()) +
               (lines.size() == 1 ? " field" : " fields") + " (detector -> editor):";
        for (const std::string &line : lines)
            text += "\r" + line;
    }
    if (compare.mSensorMismatch)
        text += "\rWrite Device would stop before writing: " + StatusMessage(kStatusSensorMismatch) + ".";
    return text;
}

RRestoreResult RestoreConfiguration(TSession &session, IScreen &screen, const RKeptConfig &kept,
                                    const std::function<bool(const std::vector<std::string> &lines)> &confirm)
{
    RRestoreResult result;
    // What was kept passes the rule for what is written before the detector is woken.
    if (const RConfigProblem problem = ConfigWriteProblem(session.DeviceCFG, kept.mConfig, session.SensorTypes);
        problem.Found()) {
        screen.Message(problem.mCaption, problem.mText, MsgIcon::Error);
        result.mOutcome = ERestore::kRefused;
        result.mWhy = problem.mBadSettings ? "the settings' write ranges leave the record" : problem.Line();
        return result;
    }
    const std::vector<RCFGWriteRange> ranges = CFGWriteRanges(session.DeviceCFG);
    TDeviceJob job(session, screen, kJobRestore);
    job.NameOnRecord(kRestoreCaption); // its read and its write are steps of the restore
    QJsonObject data{{QLatin1String(journal_data::kRestoredFrom), KeptRef(kept)}};

    RTamselCFG held{};
    RTamselIdenty identity{};
    const ROpResult read = ReadDetector(job, session, held, identity);
    if (!read.Ok()) {
        job.Finish(data);
        result.mStatus = read.mStatus;
        return result;
    }
    data.insert(QLatin1String(journal_data::kBackup), Hex(held));
    const auto refuse = [&](const std::string &why) {
        const std::string caption = std::string(kRestoreCaption) + "... refused";
        screen.SetStatus(kFailBackground, kFailText, caption);
        screen.Message(kRestoreCaption, why + "\rNothing was written.", MsgIcon::Error);
        job.Finish(kStatusRefused, caption, data);
        result.mOutcome = ERestore::kRefused;
        result.mWhy = why;
        return result;
    };
    const std::string serial = SerialOf(identity);
    if (serial != Trimmed(kept.mSerial))
        return refuse("This detector is " + VisibleLatin1(serial) + "; the configuration of record " +
                      std::to_string(kept.mRecordId) + " was read from " + VisibleUtf8(Trimmed(kept.mSerial)) + ".");

    const RTamselCFG sent = AfterWrite(held, kept.mConfig, ranges);
    result.mLines = DiffLines(held, sent, session.SensorTypes);
    data.insert(QLatin1String(journal_data::kChanges), ChangesJson(held, sent));
    if (result.mLines.empty()) {
        screen.Message(kRestoreCaption, "The detector holds this configuration already: nothing was written.",
                       MsgIcon::Information);
        data.insert(QLatin1String(journal_data::kUnchanged), true);
        job.Finish(0, std::string(kRestoreCaption) + "... unchanged", data);
        result.mOutcome = ERestore::kUnchanged;
        return result;
    }
    if (confirm && !confirm(result.mLines)) {
        job.Finish(kStatusDeclined, std::string(kRestoreCaption) + "... declined", data);
        result.mOutcome = ERestore::kDeclined;
        return result;
    }

    // The unit may have been swapped while the question was open: the write
    // goes only to the detector that was read.
    const std::vector<RCFGWriteRange> needed = RangesToWrite(held, sent, ranges);
    bool otherUnit = false;
    RTamselCFG readBack{};
    ShowBusy(screen, kWritePrefix);
    const ROpResult write = job.Linked(kWritePrefix, [&]() -> uint8_t {
        TDetector detector(session);
        RTamselIdenty now{};
        uint8_t status = detector.Connect(now);
        if (status == 0 && SerialOf(now) != serial) {
            otherUnit = true;
            return 0;
        }
        if (status == 0 && session.UserMode && sent.mSensor.mSensorType != now.mSensor)
            status = kStatusSensorMismatch;
        if (status == 0)
            status = detector.WriteRanges(sent, needed);
        if (status == 0)
            status = detector.ReadConfig(readBack);
        return status;
    });
    if (!write.mAborted && !otherUnit)
        ShowResult(screen, write.mStatus, kWritePrefix);
    if (otherUnit)
        return refuse("Another detector is in front of the adapter now; the configuration belongs to " +
                      VisibleLatin1(serial) + ".");
    if (!write.Ok()) {
        job.Finish(data);
        result.mStatus = write.mStatus;
        return result;
    }
    const std::vector<const RConfigField *> differs = ReadBackDiffers(sent, readBack, needed);
    data.insert(QLatin1String(journal_data::kReadBack), differs.empty() ? QStringLiteral("equal") : QStringLiteral("differs"));
    if (differs.empty()) {
        job.Finish(data);
        result.mOutcome = ERestore::kRestored;
        return result;
    }
    QJsonArray names;
    for (const RConfigField *f : differs)
        names.append(QString::fromLatin1(f->mName));
    data.insert(QLatin1String(journal_data::kReadBackFields), names);
    result.mOutcome = ERestore::kDiffers;
    result.mWhy = FieldNames(differs);
    screen.Message(kRestoreCaption, "The configuration read back differs from what was written in " + result.mWhy,
                   MsgIcon::Error);
    job.Finish(kStatusNotDone, std::string(kWritePrefix) + "... read-back differs", data, outcome::kFail);
    return result;
}
