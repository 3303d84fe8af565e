#include "app/device_actions.h"

#include "app/config_jobs.h"
#include "app/session.h"
#include "model/config_form.h"
#include "model/convert.h"

void ViewToMainState(const TSession &session, RMainState &state, IScreen &screen, bool forDevice)
{
    const RViewResult r =
        ViewToConfig(state.FForm, state.FTamselCFG, forDevice, state.FReadSW, session.UserMode, session.SensorTypes);
    if (r.mLifeMessage) {
        ResetLifeEditors(state.FForm);
        screen.Message(kLifeMessageCaption, kLifeMessageText, MsgIcon::Information);
    }
}

TDeviceActions::TDeviceActions(TSession &session, IScreen &screen, RMainState &state)
    : FSession(session), FScreen(screen), FState(state),
      FJobs(session, screen, [this](RTamselCFG &cfg) {
          const uint8_t status = ReadDeviceConfig();
          if (status == 0)
              cfg = FState.FTamselCFG;
          return status;
      })
{
}

TDetectorJobs &TDeviceActions::Forgetting()
{
    FState.FHibernateConfirmed = false;
    return FJobs;
}

uint8_t TDeviceActions::ReadDeviceConfig()
{
    TDetector detector(FSession);
    FState.FForm.mDevProductName.clear();
    RTamselIdenty identity{};
    uint8_t status = detector.Connect(identity);
    if (status == 0)
        FState.FForm.mDevProductName = GetProductName(identity.mPID);
    RTamselCFG cfg = FState.FTamselCFG;
    if (status == 0)
        status = detector.ReadConfig(cfg);
    if (status == 0) {
        FState.FTamselCFG = cfg;
        FState.FReadSW = cfg.mUnit.mFWVersion;
        FState.FRecordSource = ERecordSource::Detector;
        FState.FDetectorCFG = FState.FTamselCFG;
        ConfigToView(FState.FTamselCFG, FState.FForm, FSession.SensorTypes);
    }
    return status;
}

uint8_t TDeviceActions::WriteDeviceConfig()
{
    // Never half a write: ranges that leave the record stop it before the first byte.
    if (!CFGWriteRangeProblems(FSession.DeviceCFG).empty())
        return kStatusBlockCRC;
    TDetector detector(FSession);
    RTamselIdenty identity{};
    uint8_t status = detector.Connect(identity);
    if (status == 0)
        status = detector.WriteConfig(FState.FTamselCFG, identity);
    return status;
}

ROpResult TDeviceActions::ReadForSensorCalibration() { return Forgetting().ReadForSensorCalibration(FState.FTamselCFG); }

RActionResult TDeviceActions::ReadDevice() { return Forgetting().ReadDevice(FState.FTamselCFG); }

RActionResult TDeviceActions::WriteDevice()
{
    const RActionResult result = Forgetting().WriteDevice([this] {
        ViewToMainState(FSession, FState, FScreen, true);
        return FState.FTamselCFG;
    });
    if (result.ROpResult::Ok() && !FSession.UserMode) {
        // Ready for the next serial number.
        FState.FForm.mDevSerial.SetText(CharFieldToStr(FState.FTamselCFG.mUnit.mSerial));
        FState.FForm.mFocusRequest = EFocusRequest::SerialNumber;
    }
    return result;
}

RActionResult TDeviceActions::Hibernate() { return FJobs.Hibernate(FState.FHibernateConfirmed); }
RActionResult TDeviceActions::LogReset() { return Forgetting().LogReset(); }
RActionResult TDeviceActions::TurnOff() { return Forgetting().TurnOff(); }
RActionResult TDeviceActions::Calibration() { return Forgetting().Calibration(); }
RActionResult TDeviceActions::ActuatorTest(int nButton) { return FJobs.ActuatorTest(nButton); }
RActionResult TDeviceActions::PeakBumpReport(int nButton, const std::string &serial)
{
    return FJobs.PeakBumpReport(nButton, serial);
}
RActionResult TDeviceActions::FactoryReset() { return FJobs.FactoryReset(); }
RActionResult TDeviceActions::Identify(RTamselIdenty *identity, bool bShowBox)
{
    return FJobs.Identify(identity, bShowBox);
}

RActionResult CompareAction(TSession &session, IScreen &screen, const RMainState &state)
{
    RActionResult result;
    const std::vector<std::string> problems = CFGWriteRangeProblems(session.DeviceCFG);
    RTamselCFG sent = state.FTamselCFG;
    ViewToConfig(state.FForm, sent, true, state.FReadSW, session.UserMode, session.SensorTypes);
    if (!problems.empty() || sent.mSensor.mSensorType == 0) {
        if (!problems.empty())
            screen.Message(kWriteRangeCaption, WriteRangeText(problems), MsgIcon::Error);
        else
            screen.Message(kNoSensorCaption, session.UserMode ? kNoSensorTextUser : kNoSensorTextDev, MsgIcon::Error);
        result.mRefused = true;
        result.mBadSettings = !problems.empty();
        return result;
    }
    const RCompare compare = CompareBeforeWrite(session, screen, sent);
    static_cast<ROpResult &>(result) = compare.mRead;
    if (compare.Ok())
        screen.Message(kCompareCaption, CompareText(compare, session.SensorTypes), MsgIcon::Information);
    return result;
}
