#include "ui/widget_kit.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QListWidget>
#include <QVariant>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

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

namespace {

constexpr const char *kMarkProperty = "changeMark";

QLabel *MakeMark(QWidget *owner)
{
    auto *mark = new QLabel;
    mark->setTextFormat(Qt::PlainText);
    mark->setFixedWidth(14);
    mark->setAlignment(Qt::AlignCenter);
    owner->setProperty(kMarkProperty, QVariant::fromValue(static_cast<QObject *>(mark)));
    return mark;
}

// The wheel over a field without the focus goes to the scroll area around it.
class TWheelGuard : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel)
            return false;
        auto *field = qobject_cast<QWidget *>(watched);
        if (!field || field->hasFocus())
            return false;
        for (QWidget *w = field->parentWidget(); w; w = w->parentWidget())
            if (auto *area = qobject_cast<QAbstractScrollArea *>(w)) {
                QCoreApplication::sendEvent(area->viewport(), event);
                break;
            }
        return true;
    }
};

} // namespace

void AddRow(QGridLayout *grid, const char *caption, QWidget *value, int width)
{
    const int row = grid->rowCount();
    grid->addWidget(MakeCaption(caption, width), row, 0);
    grid->addWidget(value, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(MakeMark(value), row, 2);
}

QLabel *ChangeMarkOf(const QWidget *editor)
{
    for (const QWidget *w = editor; w; w = w->parentWidget()) {
        const QVariant mark = w->property(kMarkProperty);
        if (mark.isValid())
            return qobject_cast<QLabel *>(mark.value<QObject *>());
        if (w->isWindow())
            break;
    }
    return nullptr;
}

QWidget *WithMark(QWidget *widget)
{
    auto *box = new QWidget;
    auto *h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(4);
    h->addWidget(widget);
    h->addWidget(MakeMark(widget));
    h->addStretch(1);
    return box;
}

void GuardWheel(QWidget *root)
{
    auto *guard = new TWheelGuard(root);
    QList<QWidget *> fields;
    for (QAbstractSpinBox *w : root->findChildren<QAbstractSpinBox *>())
        fields << w;
    for (QComboBox *w : root->findChildren<QComboBox *>())
        fields << w;
    for (QListWidget *w : root->findChildren<QListWidget *>())
        fields << w;
    for (QWidget *w : fields) {
        w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
    }
}

QGridLayout *MakeRowGrid()
{
    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(3, 1);
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

namespace {

// The fields' part of a page: it asks for the room its fields need (and the
// scroll bar beside them), and gives way to the actions when there is less.
class TFieldScroll : public QScrollArea {
public:
    explicit TFieldScroll(QWidget *fields)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setWidget(fields);
        fields->installEventFilter(this);
    }
    // The fields asked for other room (a list filled, a text longer): so
    // does the part, so that the page is laid out again around it.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
    QSize sizeHint() const override
    {
        const QSize hint = widget()->sizeHint().expandedTo(widget()->minimumSizeHint());
        return {hint.width() + verticalScrollBar()->sizeHint().width(), hint.height()};
    }
    QSize minimumSizeHint() const override
    {
        return {kCaptionWidth, 3 * kRowHeight};
    }
};

} // namespace

void SplitPage(QWidget *page, QLayout *fields, QLayout *actions, int margin)
{
    auto *h = new QHBoxLayout(page);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);

    auto *fieldPart = new QWidget;
    fieldPart->setObjectName(page->objectName() + QStringLiteral("Fields"));
    fields->setContentsMargins(margin, margin, margin, margin);
    fieldPart->setLayout(fields);
    auto *scroll = new TFieldScroll(fieldPart);
    scroll->setObjectName(page->objectName() + QStringLiteral("FieldScroll"));
    h->addWidget(scroll, 1);

    auto *separator = new QFrame;
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    h->addWidget(separator);

    auto *actionPart = new QWidget;
    actionPart->setObjectName(page->objectName() + QStringLiteral("Actions"));
    auto *v = new QVBoxLayout(actionPart);
    v->setContentsMargins(margin, margin, margin, margin);
    v->setSpacing(8);
    v->addLayout(actions);
    v->addStretch(1);
    h->addWidget(actionPart);
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
