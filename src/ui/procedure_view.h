#pragma once
// What the guided procedures (the bump test, the calibration against a
// cylinder) show alike, as a docking station shows it: the numbered steps
// with the current one marked, the live reading in large type with its unit
// and the detector's alarm set points, and the time left of the wait that
// runs. Each piece is sized once for the longest text it can show, so a new
// text never lays the dialog out again and no button moves under the pointer.
#include <QFrame>
#include <QScrollArea>
#include <QStringList>

#include "app/clock.h"

class QLabel;
class QLayout;
class QPushButton;
class QVBoxLayout;

// "47 s left", "9:58 left" (a minute or more); "" below zero.
QString CountdownText(double secondsLeft);
// Whole seconds from `from` to `to`, rounded as the procedures round the
// times they record.
int WholeSeconds(TDateTime from, TDateTime to);

// The procedure's steps, numbered; the current one bold on the highlight,
// those done in green.
class TStepList : public QFrame {
public:
    // `name`: the object name; each row is `name` + its number (from 1).
    TStepList(const QString &name, const QStringList &steps, QWidget *parent = nullptr);
    // The step now running (0-based); -1: none. All before it count as done.
    void SetCurrent(int index);
    int Current() const { return FCurrent; }
    // Every step marked done (the procedure ended after its last step).
    void SetAllDone();
    QLabel *Row(int index) const;

private:
    void Paint();

    QList<QLabel *> FRows;
    int FCurrent = -1;
    bool FAllDone = false;
};

// The live reading in large type, the alarm set points under it and a line
// of what the detector says now (its flags, the time on the procedure's clock).
class TLiveReading : public QFrame {
public:
    // Object names: prefix + "LiveLabel", "SetPointsLabel", "LiveFlagsLabel".
    TLiveReading(const QString &prefix, QWidget *parent = nullptr);
    void SetReading(const QString &value);
    void SetSetPoints(const QString &text);
    void SetDetail(const QString &text);
    void Clear();

    QLabel *Value() const { return FValue; }
    QLabel *SetPoints() const { return FSetPoints; }
    QLabel *Detail() const { return FDetail; }

private:
    QLabel *FValue = nullptr;
    QLabel *FSetPoints = nullptr;
    QLabel *FDetail = nullptr;
};

// The time left of the wait that runs, in large type, with what it waits for.
class TCountdown : public QFrame {
public:
    // Object names: prefix + "CountdownLabel" (the time), prefix + "WaitLabel".
    TCountdown(const QString &prefix, QWidget *parent = nullptr);
    // `what` waits until `ends` (kDueNever: no wait; both blank).
    void Show(const QString &what, TDateTime now, TDateTime ends);
    void Clear();
    QLabel *Time() const { return FTime; }
    QLabel *What() const { return FWhat; }

private:
    QLabel *FWhat = nullptr;
    QLabel *FTime = nullptr;
};

// A scroll area that asks for the whole of its content: on a screen large
// enough nothing scrolls; on a smaller one the content scrolls instead of
// being squeezed.
class TRoomyScroll : public QScrollArea {
public:
    TRoomyScroll(const QString &name, QWidget *content, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

// Large bold type.
void SetLargeFont(QLabel *label, int pixels);
// A label's text colour.
void SetTextColour(QLabel *label, const QColor &colour);
// A label kept at least wide enough for each of `samples` in its font.
void ReserveWidth(QLabel *label, const QStringList &samples);
// A label kept high enough for `lines` lines of its font.
void ReserveLines(QLabel *label, int lines);

// A dialog button that never takes Enter as its own.
QPushButton *ProcedureButton(const char *caption, const char *name, QWidget *parent);

// The object names of a procedure dialog's fixed parts.
struct RProcedureNames {
    const char *mPrefix;  // the countdown's and the scroll area's: prefix + "Scroll"
    const char *mStep;    // what to do now
    const char *mStepBtn; // the button that says the step is done
    const char *mStart;   // and the start button's caption
    const char *mStartCaption;
    const char *mCancel;
    const char *mClose;
};
// What never scrolls nor moves in a procedure dialog, under its scrolling
// content: what to do now, the time left and the button that says the step
// is done ("Gas applied", kept as wide as "Gas removed" and its room kept
// when hidden), then `between` (a verdict row, or none), then the start,
// cancel and close buttons.
struct RProcedureFrame {
    QLabel *mStep = nullptr;
    TCountdown *mCountdown = nullptr;
    QPushButton *mStepBtn = nullptr;
    QPushButton *mStart = nullptr;
    QPushButton *mCancel = nullptr;
    QPushButton *mClose = nullptr;
    QVBoxLayout *mMain = nullptr;
};
RProcedureFrame BuildProcedureFrame(QWidget *dialog, QWidget *content, const RProcedureNames &names,
                                    QLayout *between = nullptr);
