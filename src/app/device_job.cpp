#include "app/device_job.h"

#include <exception>

#include <QJsonArray>

#include "app/journal.h"
#include "app/session.h"
#include "link/tamsel_comms.h"

namespace {

QString Hex(const void *bytes, size_t count)
{
    return QString::fromStdString(HexText(static_cast<const uint8_t *>(bytes), count));
}

// After an error that escaped the job the port may be left open on a device
// that is gone. The link would reuse it, so the next job would only find
// that out by failing; close it quietly instead (no end-of-connection
// request: the state of the detector is unknown).
void DropPort(TComTamsel &link)
{
    try {
        link.ComClose();
    } catch (...) {
    }
}

// A port error ends the job with the port-failed status; any other error is
// an internal one, with the exit table's code for it.
ROpResult Aborted(IScreen &screen, TComTamsel &link, const std::string &text, bool portError)
{
    DropPort(link);
    ShowError(screen, text);
    ROpResult result;
    result.mStatus = portError ? kStatusAborted : kStatusInternalError;
    result.mAborted = true;
    result.mPortError = portError;
    result.mError = text;
    return result;
}

// OpenUSB, the steps when that gave 0, the close; no text.
ROpResult Frame(TSession &session, IScreen &screen, const TOpSteps &steps, const TOpClose &close)
{
    TComTamsel &link = session.Link();
    ROpResult result;
    bool opening = true; // an error while the port opens is adapter trouble
    try {
        uint8_t status = link.OpenUSB(static_cast<float>(session.DeviceCFG.mConnectTime) / 1000.0f);
        opening = false;
        if (status == 0 && steps)
            status = steps();
        if (close)
            status = close(link, status);
        else
            link.CloseUSB(status);
        result.mStatus = status;
    } catch (const ECommError &e) {
        if (opening)
            screen.AdapterTrouble(true);
        return Aborted(screen, link, e.what(), true);
    } catch (const std::exception &e) {
        if (opening)
            screen.AdapterTrouble(true);
        return Aborted(screen, link, e.what(), false);
    } catch (...) {
        if (opening)
            screen.AdapterTrouble(true);
        return Aborted(screen, link, "Unknown error", false);
    }
    return result;
}

} // namespace

TDeviceJob::TDeviceJob(TSession &session, IScreen &screen, const char *job, bool bForget, const QDateTime &time)
    : FSession(session), FScreen(screen), FJob(job),
      FTime(time.isValid() ? time.toUTC() : QDateTime::currentDateTimeUtc()), FTopLevel(bForget)
{
    if (bForget) {
        FSession.Link().ForgetSeen();
        FSession.Journal().Started(FJob, FTime);
    }
}

TDeviceJob::~TDeviceJob()
{
    if (FTopLevel && !FDone)
        FSession.Journal().Ended();
}

ROpResult TDeviceJob::Run(const std::string &prefix, const TOpSteps &steps, const TOpClose &close)
{
    ShowBusy(FScreen, prefix);
    const ROpResult result = Linked(prefix, steps, close);
    if (!result.mAborted)
        ShowResult(FScreen, result.mStatus, prefix);
    return result;
}

ROpResult TDeviceJob::Linked(const std::string &prefix, const TOpSteps &steps, const TOpClose &close)
{
    FPrefix = prefix;
    FLast = Frame(FSession, FScreen, steps, close);
    return FLast;
}

void TDeviceJob::Finish(QJsonObject data) { Finish(FLast, FPrefix, std::move(data)); }

void TDeviceJob::Finish(const ROpResult &op, const std::string &prefix, QJsonObject data)
{
    if (op.mAborted)
        data.insert(QStringLiteral("error"), QString::fromStdString(op.mError));
    std::string text;
    const std::string &named = FRecordName.empty() ? prefix : FRecordName;
    if (!prefix.empty())
        text = op.mAborted ? named + "..." : ResultCaption(op.mStatus, named);
    Finish(op.mStatus, text, data);
}

void TDeviceJob::Finish(uint8_t status, const std::string &text, const QJsonObject &data, const std::string &outcome)
{
    if (FDone)
        return;
    FDone = true;
    const RLinkSeen &seen = FSession.Link().Seen();
    if (seen.mOpens == 0) {
        if (FTopLevel)
            FSession.Journal().Ended();
        return;
    }
    RJobRecord job;
    job.mJob = FJob;
    job.mStatus = status;
    job.mOutcome = outcome;
    job.mTime = FTime;
    job.mSimulated = seen.mPseudoTerminal;
    job.mText = text;
    job.mIdentity = seen.mIdentity;
    QJsonObject all;
    if (!seen.mConfigs.empty()) {
        job.mConfig = seen.mConfigs.front();
        all.insert(QLatin1String(journal_data::kConfig), Hex(&seen.mConfigs.front(), sizeof(RTamselCFG)));
        if (seen.mConfigs.size() > 1)
            all.insert(QLatin1String(journal_data::kConfigAfter), Hex(&seen.mConfigs.back(), sizeof(RTamselCFG)));
    }
    if (!seen.mWrites.empty()) {
        QJsonArray writes;
        for (const RLinkSeen::RWrite &w : seen.mWrites)
            writes.append(QJsonObject{{QStringLiteral("address"), w.mAddress},
                                      {QStringLiteral("bytes"), Hex(w.mBytes.data(), w.mBytes.size())}});
        all.insert(QStringLiteral("writes"), writes);
    }
    if (seen.mLifeWritten)
        all.insert(QStringLiteral("life_written"), static_cast<qint64>(*seen.mLifeWritten));
    for (auto it = data.begin(); it != data.end(); ++it) {
        if (it.value().isNull())
            all.remove(it.key());
        else
            all.insert(it.key(), it.value());
    }
    job.mData = all;
    IScreen *target = &FScreen;
    FSession.Journal().Record(job, [target](const std::string &warning) { target->JournalWarning(warning); });
}

ROpResult RunJob(TSession &session, IScreen &screen, const RFramedJob &job)
{
    TDeviceJob run(session, screen, job.mName);
    const ROpResult op =
        job.mPrefix.empty() ? run.Linked({}, job.mSteps, job.mClose) : run.Run(job.mPrefix, job.mSteps, job.mClose);
    run.Finish();
    return op;
}
