#include "ui/sim_gas_panel.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "model/device_records.h"
#include "sim/sim_detector.h"
#include "ui/procedure_view.h"
#include "ui/widget_kit.h"

QString SimSensorUnit(const SimDetector &sim, const std::vector<RSensorType> &types)
{
    const int type = FindSensorType(sim.Config()[kSimSensorTypeAddress], types);
    return type >= 0 ? QString::fromStdString(types[static_cast<size_t>(type)].mUnit) : QString();
}

TSimGasPanel::TSimGasPanel(SimDetector &sim, const QString &unit, QWidget *parent)
    : QFrame(parent), FSim(sim), FUnit(unit)
{
    setObjectName(QStringLiteral("SimGasPanel"));
    setFrameShape(QFrame::StyledPanel);
    auto *caption = new QLabel(QStringLiteral("Simulated detector - gas at its sensor:"), this);
    caption->setObjectName(QStringLiteral("SimGasCaption"));
    FValueSpin = new QDoubleSpinBox(this);
    FValueSpin->setObjectName(QStringLiteral("SimGasSpin"));
    FValueSpin->setDecimals(1);
    FValueSpin->setRange(0, 3276.6);
    FValueSpin->setValue(sim.SpanGas());
    FValueSpin->setSuffix(QLatin1Char(' ') + unit);
    FValueSpin->setFixedWidth(FValueSpin->sizeHint().width());
    FApplyBtn = kit::MakeButton("SimGasApplyBtn", "Apply gas", 90);
    FRemoveBtn = kit::MakeButton("SimGasRemoveBtn", "Remove gas", 90);
    FStateLabel = new QLabel(this);
    FStateLabel->setObjectName(QStringLiteral("SimGasStateLabel"));
    // Room for the longest state: a new one moves no button.
    ReserveWidth(FStateLabel, {QStringLiteral("3276.6 %1 applied").arg(unit), QStringLiteral("clean air")});
    FStateLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    caption->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto *h = new QHBoxLayout(this);
    h->setContentsMargins(8, 4, 8, 4);
    h->addWidget(caption);
    h->addWidget(FValueSpin);
    h->addWidget(FApplyBtn);
    h->addWidget(FRemoveBtn);
    h->addWidget(FStateLabel);
    h->addStretch(1);
    connect(FApplyBtn, &QPushButton::clicked, this, &TSimGasPanel::ApplyBtnClick);
    connect(FRemoveBtn, &QPushButton::clicked, this, &TSimGasPanel::RemoveBtnClick);
    ShowState();
}

void TSimGasPanel::ApplyBtnClick()
{
    FSim.ApplyGas(FValueSpin->value());
    ShowState();
}

void TSimGasPanel::RemoveBtnClick()
{
    FSim.RemoveGas();
    ShowState();
}

void TSimGasPanel::SetValue(double value) { FValueSpin->setValue(value); }

void TSimGasPanel::ShowState()
{
    const std::optional<double> gas = FSim.AppliedGas();
    FStateLabel->setText(gas ? QStringLiteral("%1 %2 applied").arg(*gas, 0, 'f', 1).arg(FUnit)
                             : QStringLiteral("clean air"));
}
