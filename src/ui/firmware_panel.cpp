#include "ui/firmware_panel.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/firmware_job.h"
#include "ui/widget_kit.h"

using namespace kit;

TFirmwarePanel::TFirmwarePanel(const QString &prefix, QWidget *parent) : QFrame(parent)
{
    const auto name = [&](const char *part) { return (prefix + Text(part)).toUtf8(); };
    setObjectName(QString::fromUtf8(name("Panel")));
    setProperty("role", "panel");
    auto *v = new QVBoxLayout(this);
    v->setContentsMargins(8, 8, 8, 8);
    v->setSpacing(6);

    auto *fileRow = new QHBoxLayout;
    fileRow->setSpacing(6);
    FFileLabel = MakeValue(name("FileLabel").constData(), 100);
    FFileLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fileRow->addWidget(FFileLabel, 1);
    FOpenBtn = MakeButton(name("OpenBtn").constData(), "...", 32);
    FOpenBtn->setFixedWidth(32);
    FOpenBtn->setToolTip(QStringLiteral("Select Firmware Upgrade File"));
    fileRow->addWidget(FOpenBtn);
    v->addLayout(fileRow);

    FDescLabel = new QLabel(Text(kFirmwareNoImageText));
    FDescLabel->setObjectName(QString::fromUtf8(name("DescLabel")));
    FDescLabel->setTextFormat(Qt::PlainText);
    v->addWidget(FDescLabel);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(6);
    FUpgradeBtn = MakeButton(name("UpgradeBtn").constData(), "Upgrade Firmware", 130);
    FUpgradeBtn->setEnabled(false);
    FCancelBtn = MakeButton(name("CancelBtn").constData(), "Cancel", 80);
    FCancelBtn->setEnabled(false);
    FProgressBar = new QProgressBar;
    FProgressBar->setObjectName(QString::fromUtf8(name("ProgressBar")));
    FProgressBar->setRange(0, 1);
    FProgressBar->setValue(0);
    FProgressBar->setTextVisible(false);
    FProgressBar->setFixedHeight(20);
    actions->addWidget(FUpgradeBtn);
    actions->addWidget(FCancelBtn);
    actions->addWidget(FProgressBar, 1);
    v->addLayout(actions);
}

QString TFirmwarePanel::ProgressBarName() const
{
    return FProgressBar->objectName();
}

void TFirmwarePanel::Show(const RFirmwarePanel &panel)
{
    const QString file = QString::fromStdString(panel.mFileText);
    FFileLabel->setText(file);
    FFileLabel->setToolTip(file);
    FDescLabel->setText(QString::fromStdString(panel.mDescText));
    FOpenBtn->setEnabled(panel.mOpenEnabled);
    FUpgradeBtn->setEnabled(panel.mUpgradeEnabled);
    FCancelBtn->setEnabled(panel.mCancelEnabled);
    const int max = std::max(1, panel.mProgressMax);
    FProgressBar->setRange(0, max);
    FProgressBar->setValue(std::clamp(panel.mProgress, 0, max));
}
