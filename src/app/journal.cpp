#include "app/journal.h"

#include <QJsonArray>

#include "app/screen.h"
#include "link/tamsel_comms.h"

namespace {

IJournal *gJournal = nullptr;

QString Hex(const void *bytes, size_t count)
{
    return QString::fromStdString(HexText(static_cast<const uint8_t *>(bytes), count));
}

} // namespace

IJournal &Journal()
{
    static TNullJournal none;
    return gJournal ? *gJournal : none;
}

void SetJournal(IJournal *journal) { gJournal = journal; }

void TJobJournal::FinishOp(IScreen &screen, const ROpResult &op, const std::string &prefix, QJsonObject data)
{
    if (op.mAborted)
        data.insert(QStringLiteral("error"), QString::fromStdString(op.mError));
    Finish(screen, op.mStatus, op.mAborted ? prefix + "..." : ResultCaption(op.mStatus, prefix), data);
}

std::string HexText(const uint8_t *bytes, size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string DeriveOutcome(const std::string &job, uint8_t status)
{
    switch (status) {
    case 0:
        if (job == kJobCalibration)
            return outcome::kStarted;
        if (job == kJobBumpPass || job == kJobBumpFail)
            return outcome::kDeclared;
        return outcome::kSuccess;
    case 0x86: return outcome::kStopped; // the status table's "USER STOP"
    case kJobDeclined: return outcome::kDeclined;
    case kJobRefused: return outcome::kRefused;
    default: return outcome::kFailed;
    }
}

TJobJournal::TJobJournal(TComTamsel &link, const char *job, bool bForget, const QDateTime &time)
    : FLink(link), FJob(job), FTime(time.isValid() ? time.toUTC() : QDateTime::currentDateTimeUtc()),
      FTopLevel(bForget)
{
    if (bForget) {
        FLink.ForgetSeen();
        Journal().Started(FJob, FTime);
    }
}

TJobJournal::~TJobJournal()
{
    if (FTopLevel && !FDone)
        Journal().Ended();
}

void TJobJournal::Finish(IScreen &screen, uint8_t status, const std::string &text, const QJsonObject &data,
                         const std::string &outcome)
{
    if (FDone)
        return;
    FDone = true;
    const RLinkSeen &seen = FLink.Seen();
    if (seen.mOpens == 0) {
        if (FTopLevel)
            Journal().Ended();
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
    IScreen *target = &screen;
    Journal().Record(job, [target](const std::string &warning) { target->JournalWarning(warning); });
}
