// No silent edits in the main window: the wheel over a field without the
// focus changes nothing (the page scrolls instead), and every field edited
// away from what was last read is marked until the next read; the factory
// page's counters of seconds also as days and hours.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QWheelEvent>

#include "ui/factory_page.h"
#include "ui/window_fixture.h"

namespace {

// One notch of the wheel, down, over the middle of the widget.
void Wheel(QWidget *w)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

} // namespace

TEST_F(MainWindowTest, WheelChangesOnlyTheFieldWithTheFocus)
{
    StartSim();
    TNorvikIRMainForm &w = Open();
    Click("UserReadDeviceBtn");
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto *spin = W<QDoubleSpinBox>("UserHighAlarmSpin");
    auto *combo = W<QComboBox>("UserDispCombo");
    auto *id = W<QLineEdit>("UserIDEdit");
    id->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(id->hasFocus());
    const double value = spin->value();
    const int index = combo->currentIndex();
    for (int notch = 0; notch < 3; ++notch) {
        Wheel(spin);
        Wheel(combo);
    }
    EXPECT_EQ(spin->value(), value);
    EXPECT_EQ(combo->currentIndex(), index);
    EXPECT_FALSE(w.AnyFieldMarked());
    EXPECT_EQ(spin->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(combo->focusPolicy(), Qt::StrongFocus);

    // The field being worked in still answers the wheel.
    spin->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(spin->hasFocus());
    Wheel(spin);
    EXPECT_NE(spin->value(), value);
}

TEST_F(MainWindowTest, EditedFieldsAreMarkedUntilTheNextRead)
{
    StartSim();
    TNorvikIRMainForm &w = Open();
    Click("UserReadDeviceBtn");
    auto *spin = W<QDoubleSpinBox>("UserHighAlarmSpin");
    auto *combo = W<QComboBox>("UserDispCombo");
    auto *id = W<QLineEdit>("UserIDEdit");
    ASSERT_GE(combo->count(), 2);
    const QString readSpin = QString::number(spin->value(), 'f', spin->decimals());
    const QString readItem = combo->currentText();
    const QString readId = id->text();
    EXPECT_FALSE(w.AnyFieldMarked());
    const auto mark = [](QWidget *field) {
        QLabel *m = field->window()->findChild<QLabel *>(field->objectName() + QStringLiteral("Mark"));
        return m ? m->text() : QStringLiteral("(no mark)");
    };
    EXPECT_TRUE(mark(spin).isEmpty());

    // Each edit as the technician makes it; each marked, the read value in its tips.
    spin->setValue(spin->value() + 1.0);
    combo->setCurrentIndex((combo->currentIndex() + 1) % combo->count());
    id->setText(readId + QStringLiteral("9"));
    const struct {
        QWidget *mField;
        QString mRead;
    } edited[] = {{spin, readSpin}, {combo, readItem}, {id, QStringLiteral("\"") + readId + QStringLiteral("\"")}};
    for (const auto &e : edited) {
        SCOPED_TRACE(e.mField->objectName().toStdString());
        EXPECT_FALSE(mark(e.mField).isEmpty());
        EXPECT_EQ(e.mField->toolTip(), QStringLiteral("Read from the detector: ") + e.mRead);
        auto *m = w.findChild<QLabel *>(e.mField->objectName() + QStringLiteral("Mark"));
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->toolTip().contains(e.mRead)) << m->toolTip().toStdString();
    }
    EXPECT_NE(spin->palette().color(QPalette::Base), spin->parentWidget()->palette().color(QPalette::Base));
    EXPECT_TRUE(w.AnyFieldMarked());
    // An edit taken back is no longer marked.
    spin->setValue(readSpin.toDouble());
    EXPECT_TRUE(mark(spin).isEmpty());
    EXPECT_TRUE(spin->toolTip().isEmpty());
    spin->setValue(spin->value() + 1.0);

    // A read puts the detector's values back and clears every mark.
    Click("UserReadDeviceBtn");
    EXPECT_FALSE(w.AnyFieldMarked());
    for (const auto &e : edited) {
        EXPECT_TRUE(mark(e.mField).isEmpty()) << e.mField->objectName().toStdString();
        EXPECT_TRUE(e.mField->toolTip().isEmpty());
    }
    EXPECT_EQ(spin->palette().color(QPalette::Base), spin->parentWidget()->palette().color(QPalette::Base));
    EXPECT_EQ(combo->currentText(), readItem);
}

TEST(FactoryPageTest, CountersOfSecondsAlsoInDaysAndHours)
{
    const struct {
        const char *mSeconds, *mShown;
    } cases[] = {{"0", "0 d 0 h"}, {"3599", "0 d 0 h"}, {"97200", "1 d 3 h"}, {"86400", "1 d 0 h"},
                 {"4294967295", "49710 d 6 h"}, {"---", ""}, {"", ""}, {"-5", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(TFactoryPage::DurationText(QString::fromLatin1(c.mSeconds)), QString::fromLatin1(c.mShown))
            << c.mSeconds;
}
