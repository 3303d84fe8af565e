#pragma once
// The screen of a tool dialog when its opener gives none: message boxes and
// file dialogs parented to the dialog. The tools have no status bar of their
// own and the link's traffic goes wherever its opener routed it.
#include <QString>
#include <optional>
#include <string>

#include "app/screen.h"

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

    // "\r" as a line break.
    static QString BoxText(const std::string &text);

private:
    std::optional<std::string> ChooseFile(bool save, const FileChoice &choice);

    QWidget *FOwner;
};

// The Qt form of a colour.
class QColor;
QColor ToQColor(RColor color);
