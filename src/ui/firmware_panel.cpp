#include "ui/main_window.h"

#include <algorithm>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/status.h"
#include "app/firmware_job.h"
#include "ui/widget_kit.h"

// The firmware panel, one on each layout: image file, upgrade, cancel, progress.

using namespace kit;

QWidget *TNorvikIRMainForm::BuildFirmwarePanel(const QString &prefix)
{
    const auto name = [&](const char *part) { return (prefix + Text(part)).toUtf8(); };
    QFrame *panel = MakePanel(name("Panel").constData());
    auto *v = new QVBoxLayout(panel);
    v->setContentsMargins(8, 8, 8, 8);
    v->setSpacing(6);

    auto *fileRow = new QHBoxLayout;
    fileRow->setSpacing(6);
    QLabel *file = MakeValue(name("FileLabel").constData(), 100);
    file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fileRow->addWidget(file, 1);
    QPushButton *open = MakeButton(name("OpenBtn").constData(), "...", 32);
    open->setFixedWidth(32);
    open->setToolTip(QStringLiteral("Select Firmware Upgrade File"));
    fileRow->addWidget(open);
    v->addLayout(fileRow);

    auto *desc = new QLabel(Text(kFirmwareNoImageText));
    desc->setObjectName(QString::fromUtf8(name("DescLabel")));
    desc->setTextFormat(Qt::PlainText);
    v->addWidget(desc);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(6);
    QPushButton *upgrade = MakeButton(name("UpgradeBtn").constData(), "Upgrade Firmware", 130);
    upgrade->setEnabled(false);
    QPushButton *cancel = MakeButton(name("CancelBtn").constData(), "Cancel", 80);
    cancel->setEnabled(false);
    auto *bar = new QProgressBar;
    bar->setObjectName(QString::fromUtf8(name("ProgressBar")));
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(20);
    actions->addWidget(upgrade);
    actions->addWidget(cancel);
    actions->addWidget(bar, 1);
    v->addLayout(actions);
    return panel;
}

void TNorvikIRMainForm::ShowFirmwarePanel(const RFirmwarePanel &panel)
{
    for (const char *prefix : {"UserFM", "UserOptFM"}) {
        const QString p = Text(prefix);
        findChild<QLabel *>(p + QStringLiteral("FileLabel"))->setText(QString::fromStdString(panel.mFileText));
        findChild<QLabel *>(p + QStringLiteral("FileLabel"))->setToolTip(QString::fromStdString(panel.mFileText));
        findChild<QLabel *>(p + QStringLiteral("DescLabel"))->setText(QString::fromStdString(panel.mDescText));
        findChild<QPushButton *>(p + QStringLiteral("OpenBtn"))->setEnabled(panel.mOpenEnabled);
        findChild<QPushButton *>(p + QStringLiteral("UpgradeBtn"))->setEnabled(panel.mUpgradeEnabled);
        findChild<QPushButton *>(p + QStringLiteral("CancelBtn"))->setEnabled(panel.mCancelEnabled);
        auto *bar = findChild<QProgressBar *>(p + QStringLiteral("ProgressBar"));
        bar->setRange(0, std::max(1, panel.mProgressMax));
        bar->setValue(std::clamp(panel.mProgress, 0, std::max(1, panel.mProgressMax)));
    }
    for (const std::string &name : UpgradeLockedButtons())
        if (auto *b = findChild<QPushButton *>(QString::fromStdString(name)))
            b->setEnabled(panel.mOtherButtonsEnabled);
}
