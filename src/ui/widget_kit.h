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
// One caption box and its value, as the next row of the grid.
void AddRow(QGridLayout *grid, const char *caption, QWidget *value, int width = kCaptionWidth);
QGridLayout *MakeRowGrid();
QHBoxLayout *ButtonRow(std::initializer_list<QWidget *> buttons);
QScrollArea *MakeScrollBox(const char *name, QWidget *content);

// The view's texts are bytes (serial number, user ID, hardware version as the
// detector keeps them): one byte is one character both ways, so lengths,
// padding and cutting count alike on both sides and a byte of 0x80 or above
// comes back unchanged. A character beyond Latin-1 cannot be such a byte.
QString BytesToText(const std::string &bytes);
std::string TextToBytes(const QString &text);

} // namespace kit
