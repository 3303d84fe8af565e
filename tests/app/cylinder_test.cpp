// Gas cylinders as the tools take them: what a new one must say, when one may
// no longer be used, and when one does not fit the detector.
#include <gtest/gtest.h>

#include "app/cylinder.h"
#include "model/config_record.h"

namespace {

RGasCylinder Made(const std::string &gas, double concentration, const std::string &expires = "2030-06-30")
{
    RGasCylinder c;
    EXPECT_EQ(MakeCylinder(gas, concentration, "LOT-1", expires, "N2", "Acme", BuiltInSensorTypes(), c), "");
    c.mId = 4;
    return c;
}

RTamselCFG Detector(uint8_t sensor, uint16_t low, uint16_t high)
{
    RTamselCFG cfg = DefaultCFG();
    cfg.mSensor.mSensorType = sensor;
    cfg.mSensor.mAlarmLow = low;
    cfg.mSensor.mAlarmHigh = high;
    return cfg;
}

} // namespace

TEST(CylinderTest, ANewCylinderSaysWhatItsLabelCertifies)
{
    const struct {
        const char *gas;
        double concentration;
        const char *lot, *expires;
        const char *fault; // part of the answer; empty: made
    } cases[] = {
        {"H2S", 25, "L1", "2030-01-31", ""},
        {"O2", 18.04, "L1", "2030-01-31", ""},
        {"NH3", 25, "L1", "2030-01-31", "the gas 'NH3' is no sensor type of the settings (H2S, CO, O2)"},
        {"h2s", 25, "L1", "2030-01-31", "no sensor type"}, // names are matched exactly
        {"H2S", 0, "L1", "2030-01-31", "more than 0.1"},
        {"H2S", 0.1, "L1", "2030-01-31", "more than 0.1"},
        {"H2S", -5, "L1", "2030-01-31", "more than 0.1"},
        {"H2S", 3276.8, "L1", "2030-01-31", "at most 3276.7 ppm"},
        {"H2S", 25, "  ", "2030-01-31", "the lot number is needed"},
        {"H2S", 25, "L1", "2030-02-30", "YYYY-MM-DD, not '2030-02-30'"},
        {"H2S", 25, "L1", "30.01.2030", "YYYY-MM-DD"},
        {"H2S", 25, "L1", "2030-1-31", "YYYY-MM-DD"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.gas) + " " + c.expires);
        RGasCylinder cyl;
        const std::string fault = MakeCylinder(c.gas, c.concentration, c.lot, c.expires, "", "", BuiltInSensorTypes(), cyl);
        if (*c.fault == '\0')
            EXPECT_EQ(fault, "");
        else
            EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
    }
    const RGasCylinder o2 = Made("O2", 18.04);
    EXPECT_EQ(o2.mConcentration, 180);
    EXPECT_EQ(o2.mUnit, "%");
    EXPECT_EQ(CylinderText(o2), "O2 18 %, lot LOT-1");
    EXPECT_EQ(CylinderText(Made("H2S", 12.5)), "H2S 12.5 ppm, lot LOT-1");
}

TEST(CylinderTest, TheRecordKeepsEveryField)
{
    RGasCylinder c = Made("CO", 100);
    c.mRetired = true;
    const QJsonObject json = CylinderRecordJson(c);
    EXPECT_EQ(json.value(QLatin1String("concentration_tenths")).toInt(), 1000);
    EXPECT_EQ(json.keys().size(), 9);
    RGasCylinder back;
    ASSERT_TRUE(CylinderFromRecordJson(json, back));
    EXPECT_EQ(CylinderRecordJson(back), json);
    QJsonObject broken = json;
    broken.insert(QLatin1String("retired"), 1);
    EXPECT_FALSE(CylinderFromRecordJson(broken, back));
    broken = json;
    broken.remove(QLatin1String("lot"));
    EXPECT_FALSE(CylinderFromRecordJson(broken, back));
}

TEST(CylinderTest, RetiredAndExpiredCylindersAreRefused)
{
    RGasCylinder c = Made("H2S", 25, "2026-05-01");
    EXPECT_EQ(CylinderDateRefusal(c, "2026-04-30"), "");
    EXPECT_EQ(CylinderDateRefusal(c, "2026-05-01"), ""); // good through its last day
    EXPECT_EQ(CylinderDateRefusal(c, "2026-05-02"),
              "cylinder 4 (H2S 25 ppm, lot LOT-1) expired on 2026-05-01: its concentration is no longer certified");
    c.mRetired = true;
    EXPECT_NE(CylinderDateRefusal(c, "2026-04-30").find("is retired"), std::string::npos);
    c.mRetired = false;
    c.mExpires = "soon";
    EXPECT_NE(CylinderDateRefusal(c, "2026-04-30").find("expired"), std::string::npos);
    EXPECT_EQ(LocalDateText(45000.75), "2023-03-15");
}

TEST(CylinderTest, ACylinderMustFitTheDetector)
{
    const std::vector<RSensorType> types = BuiltInSensorTypes();
    const auto bump = ECylinderUse::kBumpTest, cal = ECylinderUse::kCalibration;
    const struct {
        RGasCylinder cylinder;
        RTamselCFG detector;
        ECylinderUse use;
        const char *refusal; // part of it; empty: fits
    } cases[] = {
        {Made("H2S", 25), Detector(1, 100, 150), bump, ""},
        {Made("H2S", 10), Detector(1, 100, 150), bump, ""}, // exactly the level
        {Made("H2S", 9.9), Detector(1, 100, 150), bump, "cannot reach the detector's low alarm level of 10 ppm"},
        {Made("H2S", 9.9), Detector(1, 100, 150), cal, "is below the detector's low alarm level of 10 ppm"},
        {Made("CO", 100), Detector(1, 100, 150), bump, "holds CO, the detector's sensor is H2S (ppm)"},
        {Made("H2S", 25), Detector(9, 100, 150), bump, "the detector's sensor type 9 is not in the settings"},
        // Oxygen is reached from above.
        {Made("O2", 18), Detector(4, 195, 235), bump, ""},
        {Made("O2", 20.9), Detector(4, 195, 235), bump, "cannot bring the reading down"},
        {Made("O2", 18), Detector(4, 195, 235), cal, ""},
        {Made("O2", 19.2), Detector(4, 195, 235), cal, "too close to fresh air"},
        {Made("O2", 25), Detector(4, 195, 235), cal, "is above the detector's low alarm level of 19.5 %"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(CylinderText(c.cylinder));
        const std::string refusal = CylinderFitRefusal(c.cylinder, c.detector, types, c.use);
        if (*c.refusal == '\0')
            EXPECT_EQ(refusal, "");
        else
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
    }
}
