#include "app/status.h"

#include "app/session.h"
#include "link/tamsel_comms.h"
#include "link/wire.h"

RStatusText StatusText(uint8_t status)
{
    switch (status) {
    case wire::kStatusOk:
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
    case wire::kStatusWrongProduct:
        return {"... FAIL", "This is not Norvik module"};
    case 0x94:
        return {"... FAIL", "Check sensor type and Alarm setting"};
    case wire::kStatusNoWakeUp:
        return {"... Norvik Dis-Connect", "Norvik connect error\rCheck Beamport and Norvik connection"};
    case wire::kStatusPortFailed:
        return {"... Beamport Connection ERROR", "Beamport connection error\rCheck Beamport connection"};
    case wire::kStatusNoResponse:
        return {"... FAIL", "Norvik comunication error - no response"};
    case wire::kStatusNak:
        return {"... FAIL", "Norvik comunication error - negative response"};
    case wire::kStatusDeviceError:
        return {"... FAIL", "Norvik comunication error"};
    case wire::kStatusCrcError:
        return {"... FAIL", "Norvik comunication error - CRC error"};
    case wire::kStatusBadBlock:
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

bool IsAdapterTrouble(uint8_t status)
{
    return (status >= 1 && status <= 9) || status == wire::kStatusNoWakeUp || status >= 0xFC; // 252-255: discovery
}

void ShowResult(IScreen &screen, uint8_t status, const std::string &prefix)
{
    const RStatusText row = StatusText(status);
    if (status == 0) {
        screen.SetStatus(kOkBackground, kOkText, ResultCaption(status, prefix));
        screen.AdapterTrouble(false);
        return;
    }
    screen.SetStatus(kFailBackground, kFailText, ResultCaption(status, prefix));
    screen.AdapterTrouble(IsAdapterTrouble(status));
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

bool AttachTraffic(TSession &session, IScreen &screen, bool always)
{
    if (!always && !session.DeviceCFG.mLogEnable)
        return false;
    IScreen *target = &screen;
    session.Link().OnTamselEvent = [target](TComTamsel *, TDateTime rNow, const std::string &sLog) {
        LogTraffic(*target, rNow, sLog);
    };
    return true;
}
