#include "ui/qt_screen.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QThread>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QProgressBar>

#include "ui/qt_boxes.h"

TQtScreen::TQtScreen(QWidget *window, QLabel *status, QPlainTextEdit *memo)
    : FWindow(window), FStatus(status), FMemo(memo)
{
}

void TQtScreen::SetStatus(RColor background, RColor text, const std::string &caption)
{
    if (!FStatus)
        return;
    QPalette palette = FStatus->palette();
    palette.setColor(QPalette::Window, ToQColor(background));
    palette.setColor(QPalette::WindowText, ToQColor(text));
    FStatus->setAutoFillBackground(true);
    FStatus->setPalette(palette);
    FStatus->setText(QString::fromStdString(caption));
}

void TQtScreen::ProcessMessages()
{
    QCoreApplication::processEvents();
}

void TQtScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    if (FOnMessage) {
        FOnMessage(caption, text, icon);
        return;
    }
    ShowMessageBox(FWindow, caption, text, icon);
}

bool TQtScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    if (FOnAskYesNo)
        return FOnAskYesNo(caption, text);
    return AskYesNoBox(FWindow, caption, text);
}

std::optional<std::string> TQtScreen::ChooseFile(bool save, const FileChoice &choice)
{
    if (FOnChooseFile)
        return FOnChooseFile(save, choice);
    return ChooseFileDialog(FWindow, save, choice);
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
        FMemo->appendPlainText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
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

void TQtScreen::JournalWarning(const std::string &text)
{
    // The records are written on the journal's own thread: the notice
    // reaches the widgets on the window's thread.
    if (FWindow && QThread::currentThread() != FWindow->thread()) {
        const QPointer<QWidget> window = FWindow;
        QMetaObject::invokeMethod(
            FWindow,
            [this, window, text] {
                if (window)
                    JournalWarning(text);
            },
            Qt::QueuedConnection);
        return;
    }
    std::fprintf(stderr, "beamport: %s\n", text.c_str());
    QPushButton *button = FWindow ? FWindow->findChild<QPushButton *>(QStringLiteral("ServiceRecordsBtn")) : nullptr;
    if (!button)
        return;
    button->setText(QStringLiteral("Records (!)"));
    button->setStyleSheet(QStringLiteral("color: #a00000;"));
    button->setToolTip(QString::fromUtf8(text.c_str()));
}

void TQtScreen::AdapterTrouble(bool bTrouble)
{
    if (FOnAdapterTrouble)
        FOnAdapterTrouble(bTrouble);
}
