#pragma once
// The one small interface through which device work reaches the user. The main
// window implements it with widgets, the command line with stdout/stderr and
// flags, the tests with a scripted fake. Device work never talks to widgets.
#include <cstdint>
#include <optional>
#include <string>

#include "model/color.h"

enum class MsgIcon { Error, Warning, Information, Question };

struct FileChoice {
    std::string title;
    std::string filter;      // e.g. "Config files (*.cfg)"
    std::string defaultExt;  // without the dot, e.g. "cfg"
    std::string initialDir;  // empty: no initial folder
    std::string fileName;    // proposed name (save) or empty
};

class IScreen {
public:
    virtual ~IScreen() = default;

    // The status bar's operation text with its colours.
    virtual void SetStatus(RColor background, RColor text, const std::string &caption) = 0;
    // Let the window process its pending messages once.
    virtual void ProcessMessages() = 0;
    // A modal message box with one OK button; "\r" in text is a line break.
    virtual void Message(const std::string &caption, const std::string &text, MsgIcon icon) = 0;
    // A modal Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string &caption, const std::string &text) = 0;
    // File dialogs; nullopt when the user cancels.
    virtual std::optional<std::string> ChooseOpenFile(const FileChoice &choice) = 0;
    virtual std::optional<std::string> ChooseSaveFile(const FileChoice &choice) = 0;
    // One line for the traffic list (already time-stamped).
    virtual void AppendTraffic(const std::string &line) = 0;
    // Progress of long work: position of max; max 0 hides it. `which` names the bar.
    virtual void Progress(const std::string &which, int position, int max) { (void)which; (void)position; (void)max; }
    // A job's service record could not be kept: one unobtrusive notice that
    // never replaces the status text or asks anything (the job's outcome stands).
    virtual void JournalWarning(const std::string &text) { (void)text; }
    // Whether the job just reported failed because it could not reach the
    // adapter (none found, or its port would not open): while true the
    // window offers its adapter checks. Every result says true or false.
    virtual void AdapterTrouble(bool bTrouble) { (void)bTrouble; }
};
