#include "ui/main_window.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widget_kit.h"

// The developer layout's "Factory Options" page.

using namespace kit;

QWidget *TNorvikIRMainForm::BuildFactoryPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("FactoryTS"));
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(10, 10, 10, 10);
    v->setSpacing(8);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(12);
    auto *left = new QVBoxLayout;
    left->setSpacing(8);
    auto *right = new QVBoxLayout;
    right->setSpacing(8);
    // Captions sized so that each column's boxes line up on both edges.
    constexpr int leftCaption = 102;
    constexpr int rightCaption = 128;
    constexpr int spinWidth = 100;

    auto group = [](const char *name, const char *title) {
        auto *box = new QGroupBox(Text(title));
        box->setObjectName(Text(name));
        return box;
    };

    QGroupBox *battery = group("FatoryOptBatteryGroup", "  Battery Limits");
    QGridLayout *bg = MakeRowGrid();
    bg->setContentsMargins(8, 8, 8, 8);
    AddRow(bg, "Critical", MakeSpin("FatoryOptBatteryLimitSpin", spinWidth), leftCaption);
    AddRow(bg, "Startup", MakeSpin("FatoryOptBatteryLimitStartupSpin", spinWidth), leftCaption);
    AddRow(bg, "~-10℃", MakeSpin("FatoryOptBatteryLimit1Spin", spinWidth), leftCaption);
    AddRow(bg, "- 10℃~ ", MakeSpin("FatoryOptBatteryLimit2Spin", spinWidth), leftCaption);
    battery->setLayout(bg);
    left->addWidget(battery);

    constexpr int valueCaption = 132;
    QGridLayout *counters = MakeRowGrid();
    AddRow(counters, "  Alarm Time (sec)", MakeValue("FatoryOptAlarmTimeLabel", 100), valueCaption);
    AddRow(counters, "  Alarm Count", MakeValue("FatoryOptAlarmCountLabel", 100), valueCaption);
    AddRow(counters, "  Test Time (sec)", MakeValue("FatoryOptTestTimeLabel", 100), valueCaption);
    AddRow(counters, "  Test Count", MakeValue("FatoryOptTestCountLabel", 100), valueCaption);
    QComboBox *hibernate = MakeCombo("FactoryOptHibernateCombo");
    // As wide as the value boxes, or as its longest entry needs.
    hibernate->setMinimumWidth(100);
    AddRow(counters, "  Hibernate", hibernate, valueCaption);
    AddRow(counters, "  Zero", MakeValue("FatoryOptZeroLabel", 100), valueCaption);
    AddRow(counters, "  Span", MakeValue("FatoryOptSpanLabel", 100), valueCaption);
    AddRow(counters, "  Minimum Span", MakeValue("FatoryOptMinSpanLabel", 100), valueCaption);
    AddRow(counters, "  Tau", MakeValue("FatoryOptTauLabel", 100), valueCaption);
    left->addLayout(counters);
    left->addStretch(1);

    QGroupBox *sensor = group("FatoryOptSensorGroup", "  Sensor");
    QGridLayout *sg = MakeRowGrid();
    sg->setContentsMargins(8, 8, 8, 8);
    AddRow(sg, "Span Gas", MakeSpin("FatoryOptSpanGasSpin", spinWidth), rightCaption);
    AddRow(sg, "Max", MakeSpin("FatoryOptSensorMaxSpin", spinWidth), rightCaption);
    AddRow(sg, "Base", MakeSpin("FatoryOptSensorBaseSpin", spinWidth), rightCaption);
    AddRow(sg, "Dead Zone", MakeSpin("FatoryOptDeadZoneSpin", spinWidth), rightCaption);
    sensor->setLayout(sg);
    right->addWidget(sensor);

    QGroupBox *comp = group("FatoryOptTempCompGroup", "  Temp. Comp.");
    QGridLayout *cg = MakeRowGrid();
    cg->setContentsMargins(8, 8, 8, 8);
    AddRow(cg, "#1", MakeSpin("FatoryOptTempComp1Spin", spinWidth), rightCaption);
    AddRow(cg, "#2", MakeSpin("FatoryOptTempComp2Spin", spinWidth), rightCaption);
    AddRow(cg, "#3", MakeSpin("FatoryOptTempComp3Spin", spinWidth), rightCaption);
    comp->setLayout(cg);
    right->addWidget(comp);
    QGridLayout *times = MakeRowGrid();
    AddRow(times, "  Last Calibration (sec)", MakeValue("FatoryOptLastCalLabel", 90), 160);
    AddRow(times, "  Peak Timer (sec)", MakeValue("FatoryOptPeakTimerLabel", 90), 160);
    AddRow(times, "  Last Bump Timer (sec)", MakeValue("FatoryOptLastBumpTimerLabel", 90), 160);
    right->addLayout(times);
    right->addStretch(1);

    columns->addLayout(left);
    columns->addLayout(right);
    columns->addStretch(1);
    v->addLayout(columns);

    v->addLayout(ButtonRow({MakeButton("FatoryOptCalBtn", "Calibration"), MakeButton("FatoryOptTurnOffBtn", "Turn Off"),
                            MakeButton("FatoryOptLogResetBtn", "Log Reset"),
                            MakeButton("FatoryOptLogSensorBtn", "Log Readings")}));
    v->addStretch(1);
    return page;
}
