#include "app/status.h"

#include <exception>

#include "link/tamsel_comms.h"
#include "model/settings_types.h"

RStatusText StatusText(uint8_t status)
{
    switch (status) {
    case 0x00:
        return {"... OK", ""};
    case 0x01:
        return {"... Beamport error", "Beamport error occurred\rClose program and then restart Corvane Beamport program"};
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
    case 0x09:
        return {"... Beamport Disconnection",
                "Beamport connect error\rCheck Beamport connection or \rBeamport Re-Install driver"};
    case 0x80:
        return {"... FAIL", "Upgrade data file open error\rCheck Upgrade File"};
    case 0x81:
        return {"... FAIL", "Upgrade data file size different\rCheck Upgrade File"};
    case 0x82:
        return {"... FAIL", "Upgrade data file CRC error\rCheck Upgrade File"};
    case 0x83:
        return {"... FAIL", "Upgrade data file wrong type\rCheck Upgrade File"};
    case 0x84:
        return {"... FAIL", "This file is not old version\rCheck Upgrade File"};
    case 0x85:
        return {"... FAIL", "This file is not useful to Norvik unit\rCheck Upgrade File"};
    case 0x86:
        return {"... USER STOP", "User Stop..."};
    case 0x87:
        return {"... FAIL", "Program validation failed\rRetry download image"};
    case 0x92:
        return {"... FAIL", "This is not Norvik module"};
    case 0x94:
        return {"... FAIL", "Check sensor type and Alarm setting"};
    case 0xA0:
        return {"... Norvik Dis-Connect", "Norvik connect error\rCheck Beamport and Norvik connection"};
    case 0xA1:
        return {"... Beamport Connection ERROR", "Beamport connection error\rCheck Beamport connection"};
    case 0xA2:
        return {"... FAIL", "Norvik comunication error - no response"};
    case 0xB0:
        return {"... FAIL", "Norvik comunication error - negative response"};
    case 0xB1:
        return {"... FAIL", "Norvik comunication error"};
    case 0xB2:
        return {"... FAIL", "Norvik comunication error - CRC error"};
    case 0xC0:
        return {"... FAIL", "Norvik comunication error\rWrong configuration information\rCheck device"};
    case 0xC1:
        return {"... FAIL", "Must calibration before POWER OFF"};
    case 0xC2:
        return {"... FAIL", "Zero calibration failed"};
    case 0xC3:
        return {"... FAIL", "Hibernation is not allowed"};
    case 0xFC:
        return {"... Beamport isnot found", "Beamport isnot found\rBeamport Re-Install driver"};
    case 0xFD:
        return {"... O/S is not support", "O/S is not support"};
    case 0xFE:
        return {"... Beamport found 1 more", "Beamport found one more\rOnly use one Beamport"};
    case 0xFF:
        return {"... Beamport isnot found(A)", "Beamport isnot found\rBeamport Re-Install driver(A)"};
    default:
        return {"... FAIL", "Error ocuured"};
    }
}

std::string StatusSuffix(uint8_t status) { return StatusText(status).mSuffix; }

std::string StatusMessage(uint8_t status) { return StatusText(status).mMessage; }

void ShowStatus(IScreen &screen, RColor background, RColor text, const std::string &caption)
{
    screen.SetStatus(background, text, caption);
    screen.ProcessMessages();
}

void ShowBusy(IScreen &screen, const std::string &prefix)
{
    ShowStatus(screen, kBusyBackground, kBusyText, prefix + "...");
}

std::string ResultCaption(uint8_t status, const std::string &prefix) { return prefix + StatusText(status).mSuffix; }

void ShowResult(IScreen &screen, uint8_t status, const std::string &prefix)
{
    const RStatusText row = StatusText(status);
    if (status == 0) {
        screen.SetStatus(kOkBackground, kOkText, ResultCaption(status, prefix));
        return;
    }
    screen.SetStatus(kFailBackground, kFailText, ResultCaption(status, prefix));
    screen.Message(prefix, row.mMessage, MsgIcon::Error);
}

void ShowError(IScreen &screen, const std::string &text) { screen.Message(kProgramTitle, text, MsgIcon::Error); }

std::string TrafficLine(TDateTime rNow, const std::string &sLog) { return FormatTimeStamp(rNow) + " " + sLog; }

std::string LogTraffic(IScreen &screen, TDateTime rNow, const std::string &sLog)
{
    std::string line = TrafficLine(rNow, sLog);
    screen.AppendTraffic(line);
    return line;
}

bool AttachTraffic(TComTamsel &link, IScreen &screen, bool always)
{
    if (!always && !DeviceCFG.mLogEnable)
        return false;
    IScreen *target = &screen;
    link.OnTamselEvent = [target](TComTamsel *, TDateTime rNow, const std::string &sLog) {
        LogTraffic(*target, rNow, sLog);
    };
    return true;
}

namespace {

// After an error that escaped the action the port may be left open on a
// device that is gone. The link would reuse it, so the next action would only
// find that out by failing; close it quietly instead (no end-of-connection
// request: the state of the detector is unknown).
void DropPort(TComTamsel &link)
{
    try {
        link.ComClose();
    } catch (...) {
    }
}

ROpResult Aborted(IScreen &screen, TComTamsel &link, const std::string &text, bool portError)
{
    DropPort(link);
    ShowError(screen, text);
    ROpResult result;
    result.mStatus = portError ? kStatusAborted : kStatusInternalError;
    result.mAborted = true;
    result.mPortError = portError;
    result.mError = text;
    return result;
}

} // namespace

ROpResult RunLinked(IScreen &screen, TComTamsel &link, const TOpSteps &steps, const TOpClose &close)
{
    ROpResult result;
    try {
        uint8_t status = link.OpenUSB(static_cast<float>(DeviceCFG.mConnectTime) / 1000.0f);
        if (status == 0 && steps)
            status = steps();
        if (close) {
            status = close(link, status);
        } else {
            link.CloseUSB(status);
        }
        result.mStatus = status;
    } catch (const ECommError &e) {
        return Aborted(screen, link, e.what(), true);
    } catch (const std::exception &e) {
        return Aborted(screen, link, e.what(), false);
    } catch (...) {
        return Aborted(screen, link, "Unknown error", false);
    }
    return result;
}

ROpResult RunOperation(IScreen &screen, TComTamsel &link, const std::string &prefix, const TOpSteps &steps,
                       const TOpClose &close)
{
    ShowBusy(screen, prefix);
    ROpResult result = RunLinked(screen, link, steps, close);
    if (!result.mAborted)
        ShowResult(screen, result.mStatus, prefix);
    return result;
}
