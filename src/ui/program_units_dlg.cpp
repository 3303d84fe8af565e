#include "ui/program_units_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/clock.h"
#include "app/screen.h"
#include "app/session.h"
#include "model/convert.h"
#include "records/store.h"
#include "records/template_take.h"
#include "ui/screen_fit.h"

TProgramUnitsDlg::TProgramUnitsDlg(TSession &session, IScreen &screen, QWidget *parent)
    : QDialog(parent), FSession(session), FScreen(screen)
{
    setObjectName(QStringLiteral("ProgramUnitsDlg"));
    setWindowTitle(QString::fromLatin1(kProgramUnitsCaption));
    auto *v = new QVBoxLayout(this);

    auto *choice = new QHBoxLayout;
    choice->addWidget(new QLabel(QStringLiteral("Template:")));
    FTemplateCombo = new QComboBox;
    FTemplateCombo->setObjectName(QStringLiteral("ProgramTemplateCombo"));
    FTemplateCombo->setMinimumContentsLength(24);
    choice->addWidget(FTemplateCombo, 1);
    FRefreshBtn = new QPushButton(QStringLiteral("Refresh"));
    FRefreshBtn->setObjectName(QStringLiteral("ProgramRefreshBtn"));
    choice->addWidget(FRefreshBtn);
    choice->addSpacing(12);
    choice->addWidget(new QLabel(QStringLiteral("Units:")));
    FCountSpin = new QSpinBox;
    FCountSpin->setObjectName(QStringLiteral("ProgramCountSpin"));
    FCountSpin->setRange(0, 100000);
    FCountSpin->setSpecialValueText(QStringLiteral("until stopped"));
    FCountSpin->setToolTip(QStringLiteral("How many units to program; 0: until Stop"));
    choice->addWidget(FCountSpin);
    v->addLayout(choice);

    // What the chosen template writes, before a run.
    FFields = new QListWidget;
    FFields->setObjectName(QStringLiteral("ProgramFieldsList"));
    FFields->setToolTip(QStringLiteral("The fields the chosen template writes to every unit, with their values"));
    FFields->setMaximumHeight(120);
    v->addWidget(new QLabel(QStringLiteral("It writes:")));
    v->addWidget(FFields);

    // A new template (or a new version of one) from here.
    auto *save = new QHBoxLayout;
    save->addWidget(new QLabel(QStringLiteral("Save as template:")));
    FNameEdit = new QLineEdit;
    FNameEdit->setObjectName(QStringLiteral("ProgramNewNameEdit"));
    FNameEdit->setPlaceholderText(QStringLiteral("name"));
    FNameEdit->setMaxLength(64);
    save->addWidget(FNameEdit, 1);
    FSaveDeviceBtn = new QPushButton(QStringLiteral("From Detector"));
    FSaveDeviceBtn->setObjectName(QStringLiteral("ProgramSaveDeviceBtn"));
    FSaveDeviceBtn->setToolTip(QStringLiteral("Reads the detector and keeps its user fields as the template"));
    FSaveFileBtn = new QPushButton(QStringLiteral("From File..."));
    FSaveFileBtn->setObjectName(QStringLiteral("ProgramSaveFileBtn"));
    FSaveFileBtn->setToolTip(QStringLiteral("Keeps the user fields of a .cfg file as the template"));
    save->addWidget(FSaveDeviceBtn);
    save->addWidget(FSaveFileBtn);
    v->addLayout(save);

    FState = new QLabel;
    FState->setObjectName(QStringLiteral("ProgramStateLabel"));
    FState->setWordWrap(true);
    FState->setTextFormat(Qt::PlainText);
    v->addWidget(FState);

    FUnits = new QListWidget;
    FUnits->setObjectName(QStringLiteral("ProgramUnitsList"));
    FUnits->setToolTip(QStringLiteral("One line per unit; the fields each one changed in its tip"));
    v->addWidget(FUnits, 1);

    auto *buttons = new QDialogButtonBox;
    FStartBtn = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::ActionRole);
    FStartBtn->setObjectName(QStringLiteral("ProgramStartBtn"));
    FStopBtn = buttons->addButton(QStringLiteral("Stop"), QDialogButtonBox::ActionRole);
    FStopBtn->setObjectName(QStringLiteral("ProgramStopBtn"));
    FStopBtn->setToolTip(QStringLiteral("Ends the run after the unit under way"));
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("ProgramCloseBtn"));
    for (QPushButton *b : {FStartBtn, FStopBtn, FRefreshBtn, close, FSaveDeviceBtn, FSaveFileBtn})
        b->setAutoDefault(false);
    v->addWidget(buttons);

    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] { Pass(); });
    connect(FStartBtn, &QPushButton::clicked, this, [this] { StartBtnClick(); });
    connect(FStopBtn, &QPushButton::clicked, this, [this] { StopBtnClick(); });
    connect(FRefreshBtn, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(FTemplateCombo, &QComboBox::currentIndexChanged, this, [this] { ShowFields(); });
    connect(FSaveDeviceBtn, &QPushButton::clicked, this, [this] { SaveTemplateClick(ETemplateSource::kDetector); });
    connect(FSaveFileBtn, &QPushButton::clicked, this, [this] { SaveTemplateClick(ETemplateSource::kFile); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(640, 420);
    SetRunning(false);
    Refresh();
}

TProgramUnitsDlg::~TProgramUnitsDlg() = default;

void TProgramUnitsDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FitToScreen(this);
}

void TProgramUnitsDlg::reject()
{
    // Closing while a run waits ends it; a unit under way is never cut short
    // (the run's job holds the window's thread until it is done).
    if (FRun) {
        FRun->Stop();
        Pass();
    }
    QDialog::reject();
}

void TProgramUnitsDlg::Refresh()
{
    FTemplates.clear();
    FTemplateCombo->clear();
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(FSession, error);
    if (store && ListTemplates(*store, FTemplates, error)) {
        for (const RStoredTemplate &t : FTemplates)
            FTemplateCombo->addItem(QStringLiteral("%1 (version %2, %3 %4)")
                                        .arg(QString::fromStdString(t.mTemplate.mName))
                                        .arg(t.mTemplate.mVersion)
                                        .arg(t.mTemplate.mFields.size())
                                        .arg(t.mTemplate.mFields.size() == 1 ? QStringLiteral("field")
                                                                            : QStringLiteral("fields")));
        FState->setText(FTemplates.empty() ? QStringLiteral("No template is stored yet: save one above, from the "
                                                            "detector or from a .cfg file.")
                                           : QString());
    } else {
        FTemplates.clear();
        FState->setText(QStringLiteral("The templates cannot be read: ") + error);
    }
    SetRunning(false);
    ShowFields();
}

void TProgramUnitsDlg::ShowFields()
{
    FFields->clear();
    const int at = FTemplateCombo->currentIndex();
    if (at >= 0 && at < static_cast<int>(FTemplates.size()))
        FFields->addItems(TemplateFieldLines(FTemplates[static_cast<size_t>(at)].mTemplate, FSession.SensorTypes));
}

void TProgramUnitsDlg::SaveTemplateClick(ETemplateSource source)
{
    if (FRun)
        return;
    const std::string name = FNameEdit->text().toStdString();
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(FSession, error);
    if (!store) {
        FScreen.Message(kProgramUnitsCaption, "The template was not saved: " + error.toStdString(), MsgIcon::Error);
        return;
    }
    const RTemplateTaken taken = TakeTemplate(FSession, FScreen, *store, name, source);
    if (!taken.mSaved) {
        if (!taken.mWhy.empty())
            FScreen.Message(kProgramUnitsCaption, "Template " + name + ": " + taken.mWhy, MsgIcon::Error);
        return;
    }
    Refresh();
    for (size_t i = 0; i < FTemplates.size(); ++i)
        if (FTemplates[i].mTemplate.mName == name)
            FTemplateCombo->setCurrentIndex(static_cast<int>(i));
    const size_t n = taken.mTemplate.mFields.size();
    FState->setText(QStringLiteral("Template %1 version %2 saved: %3 %4.")
                        .arg(QString::fromStdString(name))
                        .arg(taken.mTemplate.mVersion)
                        .arg(n)
                        .arg(n == 1 ? QStringLiteral("field") : QStringLiteral("fields")));
}

void TProgramUnitsDlg::SetRunning(bool running)
{
    FStartBtn->setEnabled(!running && !FTemplates.empty());
    FStopBtn->setEnabled(running);
    FTemplateCombo->setEnabled(!running);
    FCountSpin->setEnabled(!running);
    FRefreshBtn->setEnabled(!running);
    for (QWidget *w : {static_cast<QWidget *>(FNameEdit), static_cast<QWidget *>(FSaveDeviceBtn),
                       static_cast<QWidget *>(FSaveFileBtn)})
        w->setEnabled(!running);
}

void TProgramUnitsDlg::StartBtnClick()
{
    const int at = FTemplateCombo->currentIndex();
    if (FRun || at < 0 || at >= static_cast<int>(FTemplates.size()))
        return;
    RProgramKnobs knobs;
    knobs.mCount = FCount = FCountSpin->value();
    const RConfigTemplate &tpl = FTemplates[static_cast<size_t>(at)].mTemplate;
    if (const QString fault = FTemplates[static_cast<size_t>(at)].mFault; !fault.isEmpty()) {
        FScreen.Message(kProgramUnitsCaption, "Template " + tpl.mName + " cannot be used: " + fault.toStdString() + ".",
                        MsgIcon::Error);
        return;
    }
    FRun = std::make_unique<TProgramRun>(FSession, FScreen, *this, tpl, knobs);
    if (const std::string why = FRun->Refusal(); !why.empty()) {
        FRun.reset();
        FScreen.Message(kProgramUnitsCaption, "Template " + tpl.mName + " cannot be used: " + why + ".",
                        MsgIcon::Error);
        return;
    }
    FUnits->clear();
    SetRunning(true);
    Pass();
}

void TProgramUnitsDlg::StopBtnClick()
{
    if (!FRun)
        return;
    FRun->Stop();
    FStopBtn->setEnabled(false);
    FState->setText(QStringLiteral("Stopping after the unit under way..."));
    if (!FTimer->isActive() || FTimer->remainingTime() > 0) {
        FTimer->stop();
        Pass();
    }
}

void TProgramUnitsDlg::Pass()
{
    if (!FRun)
        return;
    const TDateTime due = FRun->Pass();
    if (!FRun || FRun->Finished()) {
        FRun.reset();
        SetRunning(false);
        return;
    }
    const double ms = (due - FSession.Clock().Now()) * kSecondsPerDayF * 1000.0;
    FTimer->start(ms <= 0 ? 0 : static_cast<int>(ms + 0.5));
}

void TProgramUnitsDlg::WaitingForUnit(int number)
{
    FState->setText(QStringLiteral("Waiting for unit %1%2: present a detector to the adapter.")
                        .arg(number)
                        .arg(FCount > 0 ? QStringLiteral("/%1").arg(FCount) : QString()));
}

void TProgramUnitsDlg::UnitDone(const RUnitReport &report)
{
    auto *item = new QListWidgetItem(QString::fromLatin1(UnitLine(report, FCount).c_str()));
    QString tip;
    for (const std::string &line : report.mDiff)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromLatin1(line.c_str());
    item->setToolTip(tip.isEmpty() ? QStringLiteral("nothing to change") : tip);
    if (report.mOutcome == EUnitOutcome::kFailed)
        item->setForeground(Qt::red);
    FUnits->addItem(item);
    while (FUnits->count() > kKeptLines)
        delete FUnits->takeItem(0);
    FUnits->scrollToBottom();
    FState->setText(QStringLiteral("Take the detector away; the next one follows."));
}

void TProgramUnitsDlg::Finished(const RProgramSummary &summary)
{
    FState->setText(QString::fromStdString(SummaryLine(summary)));
}
