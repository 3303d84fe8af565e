#include "ui/qt_boxes.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {
QMessageBox::Icon ToQIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QColor ToQColor(RColor color) { return QColor(color.r, color.g, color.b); }

QString BoxText(const std::string &text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString DialogFilter(const std::string &filter)
{
    const QString f = QString::fromStdString(filter);
    if (!f.contains(QLatin1Char('|')))
        return f;
    const QStringList parts = f.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    if (parts.size() % 2 == 1 && !parts.back().isEmpty())
        entries << parts.back();
    return entries.join(QStringLiteral(";;"));
}

void ShowMessageBox(QWidget *parent, const std::string &caption, const std::string &text, MsgIcon icon)
{
    QMessageBox box(ToQIcon(icon), QString::fromStdString(caption), BoxText(text), QMessageBox::Ok, parent);
    box.exec();
}

bool AskYesNoBox(QWidget *parent, const std::string &caption, const std::string &text)
{
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), BoxText(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> ChooseFileDialog(QWidget *parent, bool save, const FileChoice &choice)
{
    QFileDialog dialog(parent, QString::fromStdString(choice.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!choice.filter.empty())
        dialog.setNameFilter(DialogFilter(choice.filter));
    if (!choice.defaultExt.empty())
        dialog.setDefaultSuffix(QString::fromStdString(choice.defaultExt));
    if (!choice.initialDir.empty() && QDir(QString::fromStdString(choice.initialDir)).exists())
        dialog.setDirectory(QString::fromStdString(choice.initialDir));
    if (!choice.fileName.empty())
        dialog.selectFile(QString::fromStdString(choice.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().front()).toStdString();
}
