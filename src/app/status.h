#pragma once
// The one table that turns a status byte into what the user sees, the status
// bar and traffic list helpers, and the frame every device action runs in:
// busy text, open the link, the action's steps, close, result.
#include <cstdint>
#include <functional>
#include <string>

#include "app/screen.h"
#include "model/datetime.h"

class TComTamsel;

// The program's title: caption of the box that reports an error raised
// outside a transaction.
inline constexpr const char *kProgramTitle = "Corvane Beamport";

// Status bar colours.
inline constexpr RColor kBusyBackground = clWhite;
inline constexpr RColor kBusyText = clBlack;
inline constexpr RColor kOkBackground = clLime;
inline constexpr RColor kOkText = clBlack;
inline constexpr RColor kFailBackground = clRed;
inline constexpr RColor kFailText = clWhite;

struct RStatusText {
    const char *mSuffix;  // follows the prefix in the status bar, e.g. "... FAIL"
    const char *mMessage; // message box text ("\r" = line break); empty for 0
};

// The row of the status table for a status byte (every value has one).
RStatusText StatusText(uint8_t status);
std::string StatusSuffix(uint8_t status);
std::string StatusMessage(uint8_t status);

// Sets the status bar text and colours, then lets the screen process its
// pending messages once so the text is painted before blocking link work.
void ShowStatus(IScreen &screen, RColor background, RColor text, const std::string &caption);
// The busy text of an operation: prefix + "..." in the busy colours.
void ShowBusy(IScreen &screen, const std::string &prefix);
// The status-bar text of a result: prefix + the status suffix ("... OK" for 0).
std::string ResultCaption(uint8_t status, const std::string &prefix);
// The result of an operation: prefix + "... OK" in the success colours for 0;
// otherwise prefix + the status suffix in the failure colours, then the
// status message in a modal box captioned with the prefix.
void ShowResult(IScreen &screen, uint8_t status, const std::string &prefix);
// The error box for an error that ended an action outside a transaction.
void ShowError(IScreen &screen, const std::string &text);

// One traffic-list line: "hh:nn:ss:zzz " + sLog.
std::string TrafficLine(TDateTime rNow, const std::string &sLog);
// Appends the line for (rNow, sLog) to the screen's traffic list and returns it.
std::string LogTraffic(IScreen &screen, TDateTime rNow, const std::string &sLog);
// Routes the link's traffic event to LogTraffic on `screen`: only when the
// traffic log is on (DeviceCFG.mLogEnable) unless `always` is set; otherwise
// the event is left as it is. True when attached. The screen must outlive the
// link's use of the event.
bool AttachTraffic(TComTamsel &link, IScreen &screen, bool always = false);

// The status byte an action ended by a port error leaves in ROpResult, so
// that a caller that looks only at the byte never takes it for success.
inline constexpr uint8_t kStatusAborted = 0xA1;
// What an action ended by any other error (an internal one) leaves: the exit
// table's 70, which no status byte of the table has.
inline constexpr uint8_t kStatusInternalError = 70;

// What ended a framed action.
struct ROpResult {
    uint8_t mStatus = 0;  // the status byte handed to the result (0 = success); kStatusAborted when aborted
    bool mAborted = false; // an error raised outside a transaction ended the action
    bool mPortError = false; // ... and it was the port's (mStatus kStatusAborted; else kStatusInternalError)
    std::string mError;   // that error's text
    bool Ok() const { return !mAborted && mStatus == 0; }
};

// The action's commands, run on the open link; return the status.
using TOpSteps = std::function<uint8_t()>;
// How an action closes the link: gets the steps' status, closes, and returns
// the status to report (for remappings such as 177 -> 193).
using TOpClose = std::function<uint8_t(TComTamsel &link, uint8_t status)>;

// OpenUSB with DeviceCFG.mConnectTime / 1000 s, the steps when that gave 0,
// then the close (CloseUSB(status) when `close` is empty). No status text.
// An exception from any of these ends the action: the error box is shown,
// nothing else is closed or reported, and the result is marked aborted.
ROpResult RunLinked(IScreen &screen, TComTamsel &link, const TOpSteps &steps, const TOpClose &close = {});

// The whole operation frame: ShowBusy(prefix), RunLinked, ShowResult(status,
// prefix). After an exception the status bar keeps the busy text.
ROpResult RunOperation(IScreen &screen, TComTamsel &link, const std::string &prefix, const TOpSteps &steps,
                       const TOpClose &close = {});
