#include "ui/adapter_check_dlg.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/screen_fit.h"

namespace {

QLabel *Wrapped(const QString &text, const char *name)
{
    auto *label = new QLabel(text);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    // Commands in the advice are meant to be copied into a terminal.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QFrame *FindingBox(const RFinding &finding)
{
    const bool problem = finding.mKind == EFindingKind::Problem;
    auto *box = new QFrame;
    box->setObjectName(QStringLiteral("AdapterFinding"));
    box->setFrameShape(QFrame::StyledPanel);
    box->setStyleSheet(problem ? QStringLiteral("QFrame#AdapterFinding { background: #fdf0f0; }")
                               : QStringLiteral("QFrame#AdapterFinding { background: #f3f5f8; }"));
    auto *v = new QVBoxLayout(box);
    v->setContentsMargins(8, 6, 8, 6);
    v->setSpacing(4);
    auto *kind = new QLabel(problem ? QStringLiteral("Problem") : QStringLiteral("Note"));
    kind->setObjectName(QStringLiteral("AdapterFindingKind"));
    QFont bold = kind->font();
    bold.setBold(true);
    kind->setFont(bold);
    if (problem)
        kind->setStyleSheet(QStringLiteral("color: #a00000;"));
    v->addWidget(kind);
    v->addWidget(Wrapped(QString::fromStdString(finding.mWhat), "AdapterFindingWhat"));
    v->addWidget(Wrapped(QStringLiteral("What to do: ") + QString::fromStdString(finding.mFix), "AdapterFindingFix"));
    return box;
}

} // namespace

TAdapterCheckDlg::TAdapterCheckDlg(TChecks checks, QWidget *parent) : QDialog(parent), FChecks(std::move(checks))
{
    setObjectName(QStringLiteral("AdapterCheckDlg"));
    setWindowTitle(QString::fromLatin1(kAdapterCheckCaption));
    setSizeGripEnabled(true);
    auto *v = new QVBoxLayout(this);

    FSummary = new QLabel;
    FSummary->setObjectName(QStringLiteral("AdapterCheckSummary"));
    FSummary->setTextFormat(Qt::PlainText);
    FSummary->setWordWrap(true);
    v->addWidget(FSummary);

    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("AdapterCheckScroll"));
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FList = new QWidget;
    FList->setObjectName(QStringLiteral("AdapterCheckList"));
    FListLayout = new QVBoxLayout(FList);
    FListLayout->setContentsMargins(4, 4, 4, 4);
    FListLayout->setSpacing(6);
    scroll->setWidget(FList);
    v->addWidget(scroll, 1);

    auto *buttons = new QDialogButtonBox;
    QPushButton *again = buttons->addButton(QStringLiteral("Check Again"), QDialogButtonBox::ActionRole);
    again->setObjectName(QStringLiteral("AdapterCheckAgainBtn"));
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("AdapterCheckCloseBtn"));
    for (QPushButton *b : {again, close})
        b->setAutoDefault(false);
    connect(again, &QPushButton::clicked, this, [this] { Recheck(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    v->addWidget(buttons);

    resize(560, 420);
    Recheck();
}

QString TAdapterCheckDlg::SummaryText(const RDoctorReport &report)
{
    if (report.Ok()) {
        QString ready;
        for (const std::string &r : report.mReady)
            ready += (ready.isEmpty() ? QString() : QStringLiteral(", ")) + QString::fromStdString(r);
        return ready.isEmpty() ? QStringLiteral("Nothing on this computer stops the adapter.")
                               : QStringLiteral("Nothing on this computer stops the adapter: %1 ready.").arg(ready);
    }
    int problems = 0;
    for (const RFinding &f : report.mFindings)
        problems += f.mKind == EFindingKind::Problem ? 1 : 0;
    return problems == 1 ? QStringLiteral("One problem stops this computer from reaching the adapter:")
                         : QStringLiteral("%1 problems stop this computer from reaching the adapter:").arg(problems);
}

void TAdapterCheckDlg::Recheck()
{
    FReport = FChecks ? FChecks() : RDoctorReport{};
    while (QLayoutItem *item = FListLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    // Problems first: they are what stops the technician.
    for (const EFindingKind kind : {EFindingKind::Problem, EFindingKind::Note})
        for (const RFinding &f : FReport.mFindings)
            if (f.mKind == kind)
                FListLayout->addWidget(FindingBox(f));
    FListLayout->addStretch(1);
    FSummary->setText(SummaryText(FReport));
}

void TAdapterCheckDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FitToScreen(this);
}
