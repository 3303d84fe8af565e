#include "ui/widget_kit.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>

namespace kit {

QFont WindowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    return font;
}

QString Text(const char *text)
{
    return QString::fromUtf8(text);
}

QLabel *MakeCaption(const char *text, int width)
{
    auto *label = new QLabel(Text(text));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("role", "caption");
    label->setFixedHeight(kRowHeight);
    label->setMinimumWidth(width);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel *MakeValue(const char *name, int minWidth)
{
    auto *label = new QLabel;
    label->setObjectName(Text(name));
    label->setTextFormat(Qt::PlainText);
    label->setProperty("role", "value");
    label->setFixedHeight(kRowHeight);
    label->setMinimumWidth(minWidth);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLabel *MakeUnit(const char *text)
{
    auto *label = new QLabel(Text(text));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QDoubleSpinBox *MakeSpin(const char *name, int width)
{
    auto *spin = new QDoubleSpinBox;
    spin->setObjectName(Text(name));
    // "." as the decimal separator and no digit grouping, as every other
    // number of the program is written.
    spin->setLocale(QLocale::c());
    spin->setFixedHeight(kRowHeight);
    spin->setFixedWidth(width);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    spin->setAccelerated(true);
    spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    return spin;
}

QLineEdit *MakeEdit(const char *name, int width)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(Text(name));
    edit->setFixedHeight(kRowHeight);
    edit->setFixedWidth(width);
    return edit;
}

QComboBox *MakeCombo(const char *name)
{
    auto *combo = new QComboBox;
    combo->setObjectName(Text(name));
    combo->setFixedHeight(kRowHeight);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

QPushButton *MakeButton(const char *name, const char *text, int width)
{
    auto *button = new QPushButton(Text(text));
    button->setObjectName(Text(name));
    button->setMinimumWidth(width);
    button->setFixedHeight(28);
    button->setAutoDefault(false);
    return button;
}

QFrame *MakePanel(const char *name)
{
    auto *panel = new QFrame;
    panel->setObjectName(Text(name));
    panel->setProperty("role", "panel");
    return panel;
}

QWidget *WithUnit(QWidget *editor, const char *unit)
{
    auto *box = new QWidget;
    auto *h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    h->addWidget(editor);
    h->addWidget(MakeUnit(unit));
    h->addStretch(1);
    return box;
}

void AddRow(QGridLayout *grid, const char *caption, QWidget *value, int width)
{
    const int row = grid->rowCount();
    grid->addWidget(MakeCaption(caption, width), row, 0);
    grid->addWidget(value, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
}

QGridLayout *MakeRowGrid()
{
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(2, 1);
    return grid;
}

QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons)
{
    auto *h = new QHBoxLayout;
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);
    for (QWidget *b : buttons)
        h->addWidget(b);
    h->addStretch(1);
    return h;
}

QScrollArea *MakeScrollBox(const char *name, QWidget *content)
{
    auto *box = new QScrollArea;
    box->setObjectName(Text(name));
    box->setFrameShape(QFrame::NoFrame);
    box->setWidgetResizable(true);
    box->setWidget(content);
    return box;
}

QString BytesToText(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string TextToBytes(const QString &text)
{
    return text.toLatin1().toStdString();
}

} // namespace kit
