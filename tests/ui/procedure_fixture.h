#pragma once
// What the tests of the gas procedures' dialogs share: a clock that moves
// only when a pass asks to sleep, a cylinder, and a fixture with an
// in-process simulated detector.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include <QString>
#include <QWidget>

#include "app/clock.h"
#include "app/cylinder.h"
#include "sim/sim_detector.h"
#include "support/test_session.h"
#include "ui/ui_app.h"

// Each sleep also naps a little real time, for the simulator's own
// processes (its calibration).
class TStepClock : public IClock {
public:
    explicit TStepClock(TDateTime start = 45000.5) : FNow(start) {}
    TDateTime FNow;
    TDateTime Now() override { return FNow; }
    TDateTime WallNow() override { return FNow; }
    void SleepUntil(TDateTime t) override
    {
        FNow = std::max(FNow, t);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

inline RGasCylinder TestCylinder(int64_t id, const char *gas, int32_t tenths, const char *expires = "2099-12-31",
                                 const char *lot = "LOT-42")
{
    RGasCylinder c;
    c.mId = id;
    c.mGas = gas;
    c.mConcentration = tenths;
    c.mUnit = "ppm";
    c.mLot = lot;
    c.mExpires = expires;
    c.mBalance = "N2";
    return c;
}

// The session on the step clock, and a detector that answers at once.
class TProcedureDialogTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        TestApp();
        session.DeviceCFG.mConnectTime = 500;
        session.UseClock(clock);
    }
    void Detector(SimSensorKind kind)
    {
        SimOptions o;
        o.sensor_kind = kind;
        o.response_seconds = 0.001;
        o.calibration_ms = 30;
        StartSim(o);
    }
    template <typename T> T *Find(QWidget &parent, const QString &name)
    {
        T *w = parent.findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    TStepClock clock;
};
