#pragma once
// The main window's screen: device work reaches the window's status bar,
// traffic list, progress bars and the user's dialogs through it.
//
// The modal dialogs can be replaced by hooks (tests set them so that no box
// ever blocks an offscreen run); without a hook the real Qt dialog is shown.
#include <functional>
#include <map>
#include <vector>
#include <optional>
#include <string>

#include <QString>

#include "app/screen.h"

class QLabel;
class QPlainTextEdit;
class QWidget;

class TQtScreen : public IScreen {
public:
    // `window` parents the dialogs and holds the progress bars (found by
    // object name); `status` is the status bar's operation label, `memo` the
    // traffic list. Any of them may be null.
    TQtScreen(QWidget *window, QLabel *status, QPlainTextEdit *memo);

    void SetStatus(RColor background, RColor text, const std::string &caption) override;
    void ProcessMessages() override;
    void Message(const std::string &caption, const std::string &text, MsgIcon icon) override;
    bool AskYesNo(const std::string &caption, const std::string &text) override;
    std::optional<std::string> ChooseOpenFile(const FileChoice &choice) override;
    std::optional<std::string> ChooseSaveFile(const FileChoice &choice) override;
    void AppendTraffic(const std::string &line) override;
    // `which` is the object name of a progress bar of the window; max 0 empties it.
    void Progress(const std::string &which, int position, int max) override;
    // The records button turns dark red and its tip says why: no box, and the
    // status bar keeps the job's own text.
    void JournalWarning(const std::string &text) override;
    // Passed to FOnAdapterTrouble (the window offers its adapter checks).
    void AdapterTrouble(bool bTrouble) override;
    // Lets `which` stand for several progress bars (by object name).
    void SetProgressAlias(const std::string &which, std::vector<std::string> bars);

    // --- hooks: when set, called instead of the modal dialog ---
    std::function<void(const std::string &caption, const std::string &text, MsgIcon icon)> FOnMessage;
    std::function<bool(const std::string &caption, const std::string &text)> FOnAskYesNo;
    std::function<std::optional<std::string>(bool save, const FileChoice &choice)> FOnChooseFile;
    // Where AdapterTrouble goes.
    std::function<void(bool trouble)> FOnAdapterTrouble;

private:
    std::optional<std::string> ChooseFile(bool save, const FileChoice &choice);

    QWidget *FWindow;
    QLabel *FStatus;
    QPlainTextEdit *FMemo;
    std::map<std::string, std::vector<std::string>> FProgressAliases;
};
