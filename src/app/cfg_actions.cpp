#include "app/cfg_actions.h"

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/user_store.h"
#include "files/file_names.h"

namespace {

void RememberConfFolder(TSession &session, const std::string &path)
{
    session.DeviceCFG.mConfSaveDir = FolderOfFile(path);
    session.Store().SetSaveDirectory(TStoreGroup::CONFIGURE, session.DeviceCFG.mConfSaveDir);
}

FileChoice ConfigFileChoice(const TSession &session, const char *title)
{
    FileChoice choice;
    choice.title = title;
    choice.filter = kCFGFilter;
    choice.defaultExt = kCFGDefaultExt;
    choice.initialDir = session.DeviceCFG.mConfSaveDir;
    return choice;
}

} // namespace

bool SaveConfigFile(TSession &session, IScreen &screen, const std::string &path, const RTamselCFG &mCFG)
{
    const bool saved = WriteConfigFile(path, mCFG, !session.UserMode);
    if (!saved)
        screen.Message(kCFGWriteCaption, kCFGNotSavedText, MsgIcon::Error);
    RememberConfFolder(session, path);
    return saved;
}

EFileOutcome ReadConfigFile(TSession &session, IScreen &screen, RTamselCFG &cfg)
{
    RTamselCFG working = cfg;
    const std::optional<std::string> path = screen.ChooseOpenFile(ConfigFileChoice(session, kCFGOpenTitle));
    if (!path)
        return EFileOutcome::Cancelled;

    EFileOutcome outcome = EFileOutcome::Failed;
    switch (LoadConfigFile(*path, working)) {
    case ECFGLoad::Ok:
        cfg = working;
        outcome = EFileOutcome::Done;
        break;
    case ECFGLoad::NotOpened:
        screen.Message(kCFGReadCaption, kCFGNotOpenText, MsgIcon::Error);
        break;
    case ECFGLoad::Wrong:
        screen.Message(kCFGReadCaption, kCFGWrongText, MsgIcon::Error);
        break;
    }
    RememberConfFolder(session, *path);
    return outcome;
}

RViewResult RecordThroughView(const TSession &session, RTamselCFG &cfg, uint8_t readSW, bool forDevice, IScreen *screen)
{
    ConfigForm form;
    StartConfigView(form, DefaultCFG(), session.SensorTypes);
    ConfigToView(cfg, form, session.SensorTypes);
    const RViewResult r = ViewToConfig(form, cfg, forDevice, readSW, session.UserMode, session.SensorTypes);
    if (r.mLifeMessage && screen)
        screen->Message(kLifeMessageCaption, kLifeMessageText, MsgIcon::Information);
    return r;
}

EFileOutcome ReadConfigFileForDetector(TSession &session, IScreen &screen, RTamselCFG &sent)
{
    RTamselCFG cfg = DefaultCFG();
    const EFileOutcome read = ReadConfigFile(session, screen, cfg);
    if (read == EFileOutcome::Done) {
        RecordThroughView(session, cfg, 0, true);
        sent = cfg;
    }
    return read;
}

EFileOutcome WriteRecordFile(TSession &session, IScreen &screen, RTamselCFG cfg, uint8_t readSW)
{
    RecordThroughView(session, cfg, readSW, false);
    const std::optional<std::string> path = screen.ChooseSaveFile(ConfigFileChoice(session, kCFGSaveTitle));
    if (!path)
        return EFileOutcome::Cancelled;
    return SaveConfigFile(session, screen, *path, cfg) ? EFileOutcome::Done : EFileOutcome::Failed;
}

EFileOutcome ReadConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                  const std::function<void()> &viewChanged)
{
    state.FHibernateConfirmed = false;
    const EFileOutcome outcome = ReadConfigFile(session, screen, state.FTamselCFG);
    if (outcome == EFileOutcome::Done) {
        state.FRecordSource = ERecordSource::File;
        ConfigToView(state.FTamselCFG, state.FForm, session.SensorTypes);
        if (viewChanged)
            viewChanged();
    }
    return outcome;
}

EFileOutcome WriteConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                   const std::function<void()> &formChanged)
{
    state.FHibernateConfirmed = false;
    if (formChanged)
        formChanged();
    ViewToMainState(session, state, screen, false);
    const std::optional<std::string> path = screen.ChooseSaveFile(ConfigFileChoice(session, kCFGSaveTitle));
    if (!path)
        return EFileOutcome::Cancelled;
    return SaveConfigFile(session, screen, *path, state.FTamselCFG) ? EFileOutcome::Done : EFileOutcome::Failed;
}
