#include "app/cfg_actions.h"

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "model/config_form.h"

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

EFileOutcome ReadConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                  const std::function<void()> &viewChanged)
{
    state.FHibernateBtn = false;
    RTamselCFG working = state.FTamselCFG;
    const std::optional<std::string> path = screen.ChooseOpenFile(ConfigFileChoice(session, kCFGOpenTitle));
    if (!path)
        return EFileOutcome::Cancelled;

    EFileOutcome outcome = EFileOutcome::Failed;
    switch (LoadConfigFile(*path, working)) {
    case ECFGLoad::Ok:
        state.FTamselCFG = working;
        state.FRecordSource = ERecordSource::File;
        ConfigToView(state.FTamselCFG, state.FForm, session.SensorTypes);
        if (viewChanged)
            viewChanged();
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

EFileOutcome WriteConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                   const std::function<void()> &formChanged)
{
    state.FHibernateBtn = false;
    if (formChanged)
        formChanged();
    ViewToMainState(session, state, screen, false);
    const std::optional<std::string> path = screen.ChooseSaveFile(ConfigFileChoice(session, kCFGSaveTitle));
    if (!path)
        return EFileOutcome::Cancelled;
    return SaveConfigFile(session, screen, *path, state.FTamselCFG) ? EFileOutcome::Done : EFileOutcome::Failed;
}
