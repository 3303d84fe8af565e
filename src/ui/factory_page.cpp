#include "ui/factory_page.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widget_kit.h"

using namespace kit;

namespace {

// Captions sized so that each column's boxes line up on both edges.
constexpr int kLeftCaption = 102;
constexpr int kRightCaption = 128;
constexpr int kValueCaption = 132;
constexpr int kTimeCaption = 160;
constexpr int kSpinWidth = 100;

struct RSpinRow {
    const char *mCaption;
    const char *mName;
    RSpinEdit ConfigForm::*mField;
};

struct RValueRow {
    const char *mCaption;
    const char *mName;
    std::string ConfigForm::*mField;
    int mWidth;
    bool mSeconds = false; // a counter of seconds: days and hours shown beside it
};

QGroupBox *Group(const char *name, const char *title)
{
    auto *box = new QGroupBox(Text(title));
    box->setObjectName(Text(name));
    return box;
}

} // namespace

TFactoryPage::TFactoryPage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FactoryTS"));
    auto *v = new QVBoxLayout;
    v->setSpacing(8);

    // A group of number editors, bound to their members.
    const auto spinGroup = [this](const char *name, const char *title, std::initializer_list<RSpinRow> rows,
                                  int caption) {
        QGroupBox *box = Group(name, title);
        QGridLayout *grid = MakeRowGrid();
        grid->setContentsMargins(8, 8, 8, 8);
        for (const RSpinRow &row : rows) {
            QDoubleSpinBox *spin = MakeSpin(row.mName, kSpinWidth);
            AddRow(grid, row.mCaption, spin, caption);
            FBinding.Bind(spin, row.mField);
        }
        box->setLayout(grid);
        return box;
    };
    const auto valueRows = [this](QGridLayout *grid, std::initializer_list<RValueRow> rows, int caption) {
        for (const RValueRow &row : rows) {
            QLabel *label = MakeValue(row.mName, row.mWidth);
            FBinding.Bind(label, row.mField);
            if (!row.mSeconds) {
                AddRow(grid, row.mCaption, label, caption);
                continue;
            }
            auto *cell = new QWidget;
            auto *h = new QHBoxLayout(cell);
            h->setContentsMargins(0, 0, 0, 0);
            h->setSpacing(6);
            h->addWidget(label);
            QLabel *duration = MakeUnit("");
            duration->setObjectName(QString::fromLatin1(row.mName).replace(QLatin1String("Label"), QLatin1String("DaysLabel")));
            duration->setMinimumWidth(duration->fontMetrics().horizontalAdvance(QStringLiteral("99999 d 23 h")));
            h->addWidget(duration);
            AddRow(grid, row.mCaption, cell, caption);
            FDurations.push_back({label, duration});
        }
    };

    auto *left = new QVBoxLayout;
    left->setSpacing(8);
    left->addWidget(spinGroup("FatoryOptBatteryGroup", "  Battery Limits",
                              {{"Critical", "FatoryOptBatteryLimitSpin", &ConfigForm::mBatteryCritical},
                               {"Startup", "FatoryOptBatteryLimitStartupSpin",
                                &ConfigForm::mBatteryStartUp},
                               {"~-10℃", "FatoryOptBatteryLimit1Spin", &ConfigForm::mBatteryCold},
                               {"- 10℃~ ", "FatoryOptBatteryLimit2Spin", &ConfigForm::mBatteryWarm}},
                              kLeftCaption));
    QGridLayout *counters = MakeRowGrid();
    valueRows(counters,
              {{"  Alarm Time (sec)", "FatoryOptAlarmTimeLabel", &ConfigForm::mAlarmTime, 100, true},
               {"  Alarm Count", "FatoryOptAlarmCountLabel", &ConfigForm::mAlarmCount, 100},
               {"  Test Time (sec)", "FatoryOptTestTimeLabel", &ConfigForm::mTestTime, 100, true},
               {"  Test Count", "FatoryOptTestCountLabel", &ConfigForm::mTestCount, 100}},
              kValueCaption);
    QComboBox *hibernate = MakeCombo("FactoryOptHibernateCombo");
    // As wide as the value boxes, or as its longest entry needs.
    hibernate->setMinimumWidth(100);
    AddRow(counters, "  Hibernate", hibernate, kValueCaption);
    FBinding.Bind(hibernate, &ConfigForm::mAllowSuspend);
    valueRows(counters,
              {{"  Zero", "FatoryOptZeroLabel", &ConfigForm::mZero, 100},
               {"  Span", "FatoryOptSpanLabel", &ConfigForm::mSpan, 100},
               {"  Minimum Span", "FatoryOptMinSpanLabel", &ConfigForm::mMinSpan, 100},
               {"  Tau", "FatoryOptTauLabel", &ConfigForm::mTau, 100}},
              kValueCaption);
    left->addLayout(counters);
    left->addStretch(1);

    auto *right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(spinGroup("FatoryOptSensorGroup", "  Sensor",
                               {{"Span Gas", "FatoryOptSpanGasSpin", &ConfigForm::mSpanGas},
                                {"Max", "FatoryOptSensorMaxSpin", &ConfigForm::mSensorMax},
                                {"Base", "FatoryOptSensorBaseSpin", &ConfigForm::mSensorBase},
                                {"Dead Zone", "FatoryOptDeadZoneSpin", &ConfigForm::mDeadZone}},
                               kRightCaption));
    right->addWidget(spinGroup("FatoryOptTempCompGroup", "  Temp. Comp.",
                               {{"#1", "FatoryOptTempComp1Spin", &ConfigForm::mTempComp1},
                                {"#2", "FatoryOptTempComp2Spin", &ConfigForm::mTempComp2},
                                {"#3", "FatoryOptTempComp3Spin", &ConfigForm::mTempComp3}},
                               kRightCaption));
    QGridLayout *times = MakeRowGrid();
    valueRows(times,
              {{"  Last Calibration (sec)", "FatoryOptLastCalLabel", &ConfigForm::mLastCal, 90, true},
               {"  Peak Timer (sec)", "FatoryOptPeakTimerLabel", &ConfigForm::mPeakTimer, 90, true},
               {"  Last Bump Timer (sec)", "FatoryOptLastBumpTimerLabel", &ConfigForm::mLastBump,
                90, true}},
              kTimeCaption);
    right->addLayout(times);
    right->addStretch(1);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(12);
    columns->addLayout(left);
    columns->addLayout(right);
    columns->addStretch(1);
    v->addLayout(columns);

    FCalBtn = MakeButton("FatoryOptCalBtn", "Calibration");
    FTurnOffBtn = MakeButton("FatoryOptTurnOffBtn", "Turn Off");
    FLogResetBtn = MakeButton("FatoryOptLogResetBtn", "Log Reset");
    FLogSensorBtn = MakeButton("FatoryOptLogSensorBtn", "Log Readings");
    v->addStretch(1);

    // The actions beside the fields, never scrolled away.
    auto *actions = new QGridLayout;
    actions->setHorizontalSpacing(6);
    actions->setVerticalSpacing(6);
    actions->addWidget(FCalBtn, 0, 0);
    actions->addWidget(FTurnOffBtn, 0, 1);
    actions->addWidget(FLogResetBtn, 1, 0);
    actions->addWidget(FLogSensorBtn, 1, 1);
    SplitPage(this, v, actions, 10);
}

QString TFactoryPage::DurationText(const QString &seconds)
{
    bool ok = false;
    const qlonglong n = seconds.trimmed().toLongLong(&ok);
    if (!ok || n < 0)
        return {};
    const qlonglong hours = n / 3600;
    return QStringLiteral("%1 d %2 h").arg(hours / 24).arg(hours % 24);
}

void TFactoryPage::ShowDurations() const
{
    for (const RDuration &d : FDurations)
        d.mDuration->setText(DurationText(d.mSeconds->text()));
}
