#pragma once
// Message boxes and file dialogs for every Qt screen of the program: the main
// window's and the tool dialogs'.
#include <QColor>
#include <QString>
#include <optional>
#include <string>

#include "app/screen.h"

class QWidget;

// The Qt form of a colour.
QColor ToQColor(RColor color);
// "\r" (and "\r\n") as line breaks.
QString BoxText(const std::string &text);
// A file-dialog filter in Qt's form; "name|*.x;*.y|..." pairs are converted,
// "name (*.x)" is kept.
QString DialogFilter(const std::string &filter);

void ShowMessageBox(QWidget *parent, const std::string &caption, const std::string &text, MsgIcon icon);
// Yes/No with No as the default button: every question of the program comes
// before something that cannot be undone.
bool AskYesNoBox(QWidget *parent, const std::string &caption, const std::string &text);
// The open or save dialog; nullopt when cancelled.
std::optional<std::string> ChooseFileDialog(QWidget *parent, bool save, const FileChoice &choice);
