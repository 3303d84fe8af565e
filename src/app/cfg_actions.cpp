#include "app/cfg_actions.h"

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/screen.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "model/config_form.h"
#include "model/settings_types.h"

namespace {

void RememberConfFolder(const std::string &path)
{
    DeviceCFG.mConfSaveDir = FolderOfFile(path);
    UserStore().SetSaveDirectory(TStoreGroup::CONFIGURE, DeviceCFG.mConfSaveDir);
}

FileChoice ConfigFileChoice(const char *title)
{
    FileChoice choice;
    choice.title = title;
    choice.filter = kCFGFilter;
    choice.defaultExt = kCFGDefaultExt;
    choice.initialDir = DeviceCFG.mConfSaveDir;
    return choice;
}

} // namespace

bool SaveConfigFile(IScreen &screen, const std::string &path, const RTamselCFG &mCFG)
{
    const bool saved = WriteConfigFile(path, mCFG, !UserMode);
    if (!saved)
        screen.Message(kCFGWriteCaption, kCFGNotSavedText, MsgIcon::Error);
    RememberConfFolder(path);
    return saved;
}

EFileOutcome ReadConfigFileAction(IScreen &screen, RMainState &state, const std::function<void()> &viewChanged)
{
    state.FHibernateBtn = false;
    RTamselCFG working = state.FTamselCFG;
    const std::optional<std::string> path = screen.ChooseOpenFile(ConfigFileChoice(kCFGOpenTitle));
    if (!path)
        return EFileOutcome::Cancelled;

    EFileOutcome outcome = EFileOutcome::Failed;
    switch (LoadConfigFile(*path, working)) {
    case ECFGLoad::Ok:
        state.FTamselCFG = working;
        state.FRecordSource = ERecordSource::File;
        ConfigToView(state.FTamselCFG, state.FForm);
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
    RememberConfFolder(*path);
    return outcome;
}

EFileOutcome WriteConfigFileAction(IScreen &screen, RMainState &state, const std::function<void()> &formChanged)
{
    state.FHibernateBtn = false;
    if (formChanged)
        formChanged();
    ViewToMainState(state, screen, false);
    const std::optional<std::string> path = screen.ChooseSaveFile(ConfigFileChoice(kCFGSaveTitle));
    if (!path)
        return EFileOutcome::Cancelled;
    return SaveConfigFile(screen, *path, state.FTamselCFG) ? EFileOutcome::Done : EFileOutcome::Failed;
}
