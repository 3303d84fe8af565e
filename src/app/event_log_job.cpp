#include "app/event_log_job.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/journal.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "link/tamsel_comms.h"

namespace {

// The download, and once it went well the file; the log that came down stays in `log`.
void SaveEventLogSteps(TSession &session, IScreen &screen, TDeviceJob &job, RTamselCFG &cfg, const TConfigRead &read,
                       RComTamselReadBuf &log, REventLogResult &result)
{
    RDeviceCFG &settings = session.DeviceCFG;
    TDetector detector(session);
    RTamselIdenty identity;
    result.mOp = job.Run(kEventLogPrefix, [&]() -> uint8_t {
        uint8_t status = read ? read(cfg) : detector.ReadConfiguration(cfg);
        if (status == 0)
            status = detector.Connect(identity);
        if (status == 0)
            status = detector.Link().LoadLog(log, settings.mEVENTReadPacketSize);
        return status;
    });
    if (!result.mOp.Ok())
        return;

    // The detector's clock value that stands for the present moment.
    cfg.mUnit.mLifeRemaining = identity.mLife;

    std::vector<RTamselEvent> events = ParseEventLog(log, settings.mEVENTPacketSize);
    result.mEvents = static_cast<int>(events.size());
    if (events.empty()) {
        screen.Message(kEventNoDataCaption, kEventNoDataText, MsgIcon::Information);
        return;
    }
    SortEventLog(events);

    FileChoice choice;
    choice.title = kEventSaveTitle;
    choice.filter = kEventFilter;
    choice.defaultExt = kEventDefaultExt;
    choice.initialDir = settings.mEVENTSaveDir;
    choice.fileName = EventLogFileName(cfg, Now());
    const std::optional<std::string> path = screen.ChooseSaveFile(choice);
    if (!path)
        return;
    result.mPath = *path;

    if (SaveEventLog(*path, cfg, events)) {
        result.mFile = EFileOutcome::Done;
    } else {
        result.mFile = EFileOutcome::Failed;
        screen.Message(kEventSaveCaption, kEventNotSavedText, MsgIcon::Error);
    }
    settings.mEVENTSaveDir = FolderOfFile(*path);
    session.Store().SetSaveDirectory(TStoreGroup::EVENT, settings.mEVENTSaveDir);
}

} // namespace

REventLogResult SaveEventLogAction(TSession &session, IScreen &screen, RTamselCFG &cfg, const TConfigRead &read)
{
    REventLogResult result;
    TDeviceJob job(session, screen, kJobEvents);
    RComTamselReadBuf log;
    SaveEventLogSteps(session, screen, job, cfg, read, log, result);
    // On the record once the file question is settled: what came down, how
    // many events it held and where they went.
    QJsonObject data;
    if (result.mOp.Ok()) {
        const int32_t bytes = std::clamp<int32_t>(log.mData, 0, kReadBufCapacity);
        data.insert(QStringLiteral("log"), QString::fromStdString(HexText(log.mBuf, static_cast<size_t>(bytes))));
        data.insert(QStringLiteral("events"), result.mEvents);
        data.insert(QStringLiteral("csv"), QString::fromStdString(result.mFile == EFileOutcome::Done ? result.mPath : ""));
    }
    job.Finish(data);
    return result;
}

REventLogResult SaveEventLogAction(TSession &session, IScreen &screen, RMainState &state,
                                   const TReadDeviceConfig &readDeviceConfig)
{
    state.FHibernateConfirmed = false;
    TDeviceActions actions(session, screen, state);
    return SaveEventLogAction(session, screen, state.FTamselCFG, [&](RTamselCFG &) {
        return readDeviceConfig ? readDeviceConfig() : actions.ReadDeviceConfig();
    });
}
