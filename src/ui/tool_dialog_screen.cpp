#include "ui/tool_dialog_screen.h"

#include <QCoreApplication>

#include "ui/qt_boxes.h"

void TToolDialogScreen::ProcessMessages() { QCoreApplication::processEvents(); }

void TToolDialogScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    ShowMessageBox(FOwner, caption, text, icon);
}

bool TToolDialogScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    return AskYesNoBox(FOwner, caption, text);
}

std::optional<std::string> TToolDialogScreen::ChooseOpenFile(const FileChoice &choice)
{
    return ChooseFileDialog(FOwner, false, choice);
}

std::optional<std::string> TToolDialogScreen::ChooseSaveFile(const FileChoice &choice)
{
    return ChooseFileDialog(FOwner, true, choice);
}
