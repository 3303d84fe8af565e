#include "app/ui/qt_screen.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStringList>

namespace {

QColor QtColor(RColor c)
{
    return QColor(c.r, c.g, c.b);
}

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

TQtScreen::TQtScreen(QWidget *window, QLabel *status, QPlainTextEdit *memo)
    : FWindow(window), FStatus(status), FMemo(memo)
{
}

void TQtScreen::SetStatus(RColor background, RColor text, const std::string &caption)
{
    if (!FStatus)
        return;
    QPalette palette = FStatus->palette();
    palette.setColor(QPalette::Window, QtColor(background));
    palette.setColor(QPalette::WindowText, QtColor(text));
    FStatus->setAutoFillBackground(true);
    FStatus->setPalette(palette);
    FStatus->setText(QString::fromStdString(caption));
}

void TQtScreen::ProcessMessages()
{
    QCoreApplication::processEvents();
}

QString TQtScreen::MessageText(const std::string &text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

void TQtScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    if (FOnMessage) {
        FOnMessage(caption, text, icon);
        return;
    }
    QMessageBox box(ToQIcon(icon), QString::fromStdString(caption), MessageText(text), QMessageBox::Ok, FWindow);
    box.exec();
}

bool TQtScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    if (FOnAskYesNo)
        return FOnAskYesNo(caption, text);
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), MessageText(text),
                    QMessageBox::Yes | QMessageBox::No, FWindow);
    // Every question asks before something that cannot be undone.
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString TQtScreen::DialogFilter(const std::string &filter)
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

std::optional<std::string> TQtScreen::ChooseFile(bool save, const FileChoice &choice)
{
    if (FOnChooseFile)
        return FOnChooseFile(save, choice);
    QFileDialog dialog(FWindow, QString::fromStdString(choice.title));
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
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(files.front()).toStdString();
}

std::optional<std::string> TQtScreen::ChooseOpenFile(const FileChoice &choice)
{
    return ChooseFile(false, choice);
}

std::optional<std::string> TQtScreen::ChooseSaveFile(const FileChoice &choice)
{
    return ChooseFile(true, choice);
}

void TQtScreen::AppendTraffic(const std::string &line)
{
    if (FMemo)
        FMemo->appendPlainText(QString::fromStdString(line));
}

void TQtScreen::SetProgressAlias(const std::string &which, std::vector<std::string> bars)
{
    FProgressAliases[which] = std::move(bars);
}

void TQtScreen::Progress(const std::string &which, int position, int max)
{
    if (!FWindow)
        return;
    const auto alias = FProgressAliases.find(which);
    const std::vector<std::string> names = alias != FProgressAliases.end() ? alias->second : std::vector{which};
    for (const std::string &name : names) {
        auto *bar = FWindow->findChild<QProgressBar *>(QString::fromStdString(name));
        if (!bar)
            continue;
        if (max <= 0) {
            bar->setRange(0, 1);
            bar->setValue(0);
        } else {
            bar->setRange(0, max);
            bar->setValue(std::clamp(position, 0, max));
        }
    }
}
