#pragma once
// The small kit the main window's pages are made with: captions, value boxes,
// editors and buttons of the window's one look, and the rows they sit in.
#include <initializer_list>
#include <string>

#include <QFont>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QFrame;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace kit {

inline constexpr int kRowHeight = 24;
inline constexpr int kCaptionWidth = 172;
inline constexpr int kButtonWidth = 100;

// Arial, 13 pixels high: the window's text.
QFont WindowFont();
QString Text(const char *text);

QLabel *MakeCaption(const char *text, int width = kCaptionWidth);
QLabel *MakeValue(const char *name, int minWidth = 200);
QLabel *MakeUnit(const char *text);
QDoubleSpinBox *MakeSpin(const char *name, int width = 110);
QLineEdit *MakeEdit(const char *name, int width = 200);
QComboBox *MakeCombo(const char *name);
QPushButton *MakeButton(const char *name, const char *text, int width = kButtonWidth);
QFrame *MakePanel(const char *name);
// An editor with its unit caption behind it, in one cell.
QWidget *WithUnit(QWidget *editor, const char *unit);
// One caption box and its value, as the next row of the grid, with the room
// for the value's change mark (ChangeMarkOf) behind it.
void AddRow(QGridLayout *grid, const char *caption, QWidget *value, int width = kCaptionWidth);
// The mark shown beside an editor whose value differs from what was last read
// or loaded: the one of the row (or of the widget made by WithMark) the editor
// sits in; null for an editor outside such a row.
QLabel *ChangeMarkOf(const QWidget *editor);
// A widget with room for its change mark behind it, in one box.
QWidget *WithMark(QWidget *widget);
// Keeps the wheel from changing a field the technician is not working in:
// over a number editor, a drop-down list or a list without the keyboard
// focus the wheel scrolls the page around it instead. Every such field under
// `root` gets the guard, and takes the focus by a click or Tab only.
void GuardWheel(QWidget *root);
QGridLayout *MakeRowGrid();
QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons);
QScrollArea *MakeScrollBox(const char *name, QWidget *content);
// A page in two parts: its fields, which scroll (up and down, and across when
// the page is narrower than they are), and its actions in a column beside
// them that never scrolls, so that every button stays in sight on a small
// screen. The parts are named after the page ("...Fields", "...Actions");
// `fields` and `actions` become their layouts. The page must be named first.
void SplitPage(QWidget *page, QLayout *fields, QLayout *actions, int margin);

// The view's texts are bytes (serial number, user ID, hardware version as the
// detector keeps them): one byte is one character both ways, so lengths,
// padding and cutting count alike on both sides and a byte of 0x80 or above
// comes back unchanged. A character beyond Latin-1 cannot be such a byte.
QString BytesToText(const std::string &bytes);
std::string TextToBytes(const QString &text);

} // namespace kit
