#include "app/event_log_job.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/journal.h"
#include "app/screen.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "link/tamsel_comms.h"
#include "model/settings_types.h"

namespace {

void SaveEventLogSteps(IScreen &screen, TComTamsel &link, RMainState &state, const TReadDeviceConfig &readDeviceConfig,
                       RComTamselReadBuf &log, REventLogResult &result)
{
    state.FHibernateBtn = false;

    TDeviceActions actions(link, screen, state);
    RTamselIdenty identity;
    result.mOp = RunOperation(screen, link, kEventLogPrefix, [&]() -> uint8_t {
        uint8_t status = readDeviceConfig ? readDeviceConfig() : actions.ReadDeviceConfig();
        if (status == 0)
            status = link.RequireIdenty(identity);
        if (status == 0)
            status = CheckProductID(identity.mPID, kProductNorvik);
        if (status == 0)
            status = link.LoadLog(log, DeviceCFG.mEVENTReadPacketSize);
        return status;
    });
    if (!result.mOp.Ok())
        return;

    // The detector's clock value that stands for the present moment.
    state.FTamselCFG.mUnit.mLifeRemaining = identity.mLife;

    std::vector<RTamselEvent> events = ParseEventLog(log, DeviceCFG.mEVENTPacketSize);
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
    choice.initialDir = DeviceCFG.mEVENTSaveDir;
    choice.fileName = EventLogFileName(state.FTamselCFG, Now());
    const std::optional<std::string> path = screen.ChooseSaveFile(choice);
    if (!path)
        return;
    result.mPath = *path;

    if (SaveEventLog(*path, state.FTamselCFG, events)) {
        result.mFile = EFileOutcome::Done;
    } else {
        result.mFile = EFileOutcome::Failed;
        screen.Message(kEventSaveCaption, kEventNotSavedText, MsgIcon::Error);
    }
    DeviceCFG.mEVENTSaveDir = FolderOfFile(*path);
    UserStore().SetSaveDirectory(TStoreGroup::EVENT, DeviceCFG.mEVENTSaveDir);
}

} // namespace

REventLogResult SaveEventLogAction(IScreen &screen, TComTamsel &link, RMainState &state,
                                   const TReadDeviceConfig &readDeviceConfig)
{
    REventLogResult result;
    TJobJournal journal(link, kJobEvents);
    RComTamselReadBuf log;
    SaveEventLogSteps(screen, link, state, readDeviceConfig, log, result);
    // On the record once the file question is settled: what came down, how
    // many events it held and where they went.
    QJsonObject data;
    if (result.mOp.Ok()) {
        const int32_t bytes = std::clamp<int32_t>(log.mData, 0, kReadBufCapacity);
        data.insert(QStringLiteral("log"), QString::fromStdString(HexText(log.mBuf, static_cast<size_t>(bytes))));
        data.insert(QStringLiteral("events"), result.mEvents);
        data.insert(QStringLiteral("csv"), QString::fromStdString(result.mFile == EFileOutcome::Done ? result.mPath : ""));
    }
    journal.FinishOp(screen, result.mOp, kEventLogPrefix, data);
    return result;
}
