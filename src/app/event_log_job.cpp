#include "app/event_log_job.h"

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/screen.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "link/tamsel_comms.h"
#include "model/settings_types.h"

REventLogResult SaveEventLogAction(IScreen &screen, TComTamsel &link, RMainState &state,
                                   const TReadDeviceConfig &readDeviceConfig)
{
    REventLogResult result;
    state.FHibernateBtn = false;

    TDeviceActions actions(link, screen, state);
    RTamselIdenty identity;
    RComTamselReadBuf log;
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
        return result;

    // The detector's clock value that stands for the present moment.
    state.FTamselCFG.mUnit.mLifeRemaining = identity.mLife;

    std::vector<RTamselEvent> events = ParseEventLog(log, DeviceCFG.mEVENTPacketSize);
    result.mEvents = static_cast<int>(events.size());
    if (events.empty()) {
        screen.Message(kEventNoDataCaption, kEventNoDataText, MsgIcon::Information);
        return result;
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
        return result;
    result.mPath = *path;

    if (SaveEventLog(*path, state.FTamselCFG, events)) {
        result.mFile = EFileOutcome::Done;
    } else {
        result.mFile = EFileOutcome::Failed;
        screen.Message(kEventSaveCaption, kEventNotSavedText, MsgIcon::Error);
    }
    DeviceCFG.mEVENTSaveDir = FolderOfFile(*path);
    UserStore().SetSaveDirectory(TStoreGroup::EVENT, DeviceCFG.mEVENTSaveDir);
    return result;
}
