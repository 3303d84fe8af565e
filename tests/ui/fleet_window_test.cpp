// The window's fleet work, offscreen: Compare before a write.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>

#include "window_fixture.h"

TEST_F(MainWindowTest, CompareListsWhatWriteDeviceWouldChangeAndWritesNothing)
{
    SimDetector &sim = StartSim();
    Open();
    Click("UserReadDeviceBtn");
    W<QDoubleSpinBox>("UserHighAlarmSpin")->setValue(20.0);
    W<QLineEdit>("UserIDEdit")->setText(QStringLiteral("SITE"));
    const auto before = sim.Config();
    sim.ClearRecords();

    Click("UserCompareBtn");
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_EQ(FMessages[0].mCaption, "Compare with Detector");
    EXPECT_EQ(FMessages[0].mText, "Write Device would change 2 fields (detector -> editor):\r"
                                  "User ID: \"      \" -> \"SITE  \"\rHigh Alarm: 15.0 ppm -> 20.0 ppm");
    EXPECT_EQ(FMessages[0].mIcon, MsgIcon::Information);
    EXPECT_EQ(StatusText(), QStringLiteral("Read Norvik Information... OK"));
    EXPECT_EQ(sim.Config(), before);
    for (const auto &frame : sim.ReceivedFrames())
        EXPECT_NE(frame[0], 0x70) << "a configuration write";
    // The editors keep what the user typed.
    EXPECT_EQ(W<QDoubleSpinBox>("UserHighAlarmSpin")->value(), 20.0);
    EXPECT_EQ(W<QLineEdit>("UserIDEdit")->text(), QStringLiteral("SITE"));

    Click("UserWriteDeviceBtn");
    Click("UserCompareBtn");
    ASSERT_EQ(FMessages.size(), 2u);
    EXPECT_EQ(FMessages[1].mText, "The detector holds what Write Device would send: nothing would change.");
}

TEST_F(MainWindowTest, CompareInTheDeveloperLayoutCountsTheLifeAndRefusesWithoutASensor)
{
    WriteIni(kDeveloperIni);
    StartSim();
    Open();
    Click("UserOptReadDeviceBtn");
    W<QDoubleSpinBox>("UserOptMonthLifeSpin")->setValue(12);
    Click("UserOptCompareBtn");
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_NE(FMessages[0].mText.find("\rLife Remaining: "), std::string::npos) << FMessages[0].mText;

    // Write Device's own refusal, with its box, before the detector is woken.
    W<QComboBox>("UserOptSensorTypeCombo")->setCurrentIndex(-1);
    Click("UserOptCompareBtn");
    ASSERT_EQ(FMessages.size(), 2u);
    EXPECT_EQ(FMessages[1].mCaption, "No sensor information");
}
