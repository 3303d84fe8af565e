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

TJobJournal::TJobJournal(TComTamsel &link, const char *job, bool bForget) : FLink(link), FJob(job)
{
    if (bForget)
        FLink.ForgetSeen();
}

void TJobJournal::Finish(IScreen &screen, uint8_t status, const std::string &text, const QJsonObject &data)
{
    if (FDone)
        return;
    FDone = true;
    const RLinkSeen &seen = FLink.Seen();
    if (seen.mOpens == 0)
        return;
    RJobRecord job;
    job.mJob = FJob;
    job.mStatus = status;
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
    std::string warning;
    try {
        warning = Journal().Record(job);
    } catch (const std::exception &e) {
        warning = e.what();
    } catch (...) {
        warning = "the service record could not be kept";
    }
    if (!warning.empty())
        screen.JournalWarning(warning);
}
