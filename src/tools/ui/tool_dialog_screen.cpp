#include "tools/ui/tool_dialog_screen.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void TToolDialogScreen::ProcessMessages() { QCoreApplication::processEvents(); }

QString TToolDialogScreen::BoxText(const std::string &text)
{
    QString out = QString::fromStdString(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void TToolDialogScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    QMessageBox::Icon qicon = QMessageBox::Critical;
    switch (icon) {
    case MsgIcon::Error: qicon = QMessageBox::Critical; break;
    case MsgIcon::Warning: qicon = QMessageBox::Warning; break;
    case MsgIcon::Information: qicon = QMessageBox::Information; break;
    case MsgIcon::Question: qicon = QMessageBox::Question; break;
    }
    QMessageBox box(qicon, QString::fromStdString(caption), BoxText(text), QMessageBox::Ok, FOwner);
    box.exec();
}

bool TToolDialogScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    return QMessageBox::question(FOwner, QString::fromStdString(caption), BoxText(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> TToolDialogScreen::ChooseOpenFile(const FileChoice &choice) { return ChooseFile(false, choice); }

std::optional<std::string> TToolDialogScreen::ChooseSaveFile(const FileChoice &choice) { return ChooseFile(true, choice); }

std::optional<std::string> TToolDialogScreen::ChooseFile(bool save, const FileChoice &choice)
{
    QFileDialog dialog(FOwner, QString::fromStdString(choice.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!choice.filter.empty())
        dialog.setNameFilter(QString::fromStdString(choice.filter));
    if (!choice.defaultExt.empty())
        dialog.setDefaultSuffix(QString::fromStdString(choice.defaultExt));
    if (!choice.initialDir.empty() && QDir(QString::fromStdString(choice.initialDir)).exists())
        dialog.setDirectory(QString::fromStdString(choice.initialDir));
    if (!choice.fileName.empty())
        dialog.selectFile(QString::fromStdString(choice.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

QColor ToQColor(RColor color) { return QColor(color.r, color.g, color.b); }
