#pragma once
// The screen of a tool dialog when its opener gives none: message boxes and
// file dialogs parented to the dialog. The tools have no status bar of their
// own and the link's traffic goes wherever its opener routed it.
#include <optional>
#include <string>

#include "app/screen.h"
#include "ui/qt_boxes.h"

class QWidget;

class TToolDialogScreen : public IScreen {
public:
    explicit TToolDialogScreen(QWidget *owner) : FOwner(owner) {}

    void SetStatus(RColor, RColor, const std::string &) override {}
    void ProcessMessages() override;
    void Message(const std::string &caption, const std::string &text, MsgIcon icon) override;
    bool AskYesNo(const std::string &caption, const std::string &text) override;
    std::optional<std::string> ChooseOpenFile(const FileChoice &choice) override;
    std::optional<std::string> ChooseSaveFile(const FileChoice &choice) override;
    void AppendTraffic(const std::string &) override {}

private:
    QWidget *FOwner;
};
