#pragma once
// The one table that turns a status byte into what the user sees, and the
// status bar and traffic list helpers. The frame every device job runs in
// (busy text, open the link, the job's steps, close, result) is TDeviceJob
// (app/device_job.h).
#include <cstdint>
#include <string>

#include "app/screen.h"
#include "link/wire.h"
#include "model/datetime.h"
#include "model/exit_table.h"

class TSession;

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
// Statuses that mean the adapter was not reached: discovery found none (or
// more than one, or cannot search here, 252-255), the adapter library's own
// codes (1-9), or the adapter's port gave no connection (160).
bool IsAdapterTrouble(uint8_t status);

// The result of an operation: prefix + "... OK" in the success colours for 0;
// otherwise prefix + the status suffix in the failure colours, then the
// status message in a modal box captioned with the prefix. The screen hears
// whether the status is adapter trouble before the box shows.
void ShowResult(IScreen &screen, uint8_t status, const std::string &prefix);
// The error box for an error that ended an action outside a transaction.
void ShowError(IScreen &screen, const std::string &text);

// One traffic-list line: "hh:nn:ss:zzz " + sLog.
std::string TrafficLine(TDateTime rNow, const std::string &sLog);
// Appends the line for (rNow, sLog) to the screen's traffic list and returns it.
std::string LogTraffic(IScreen &screen, TDateTime rNow, const std::string &sLog);
// Routes the session link's traffic event to LogTraffic on `screen`: only
// when the traffic log is on (DeviceCFG.mLogEnable) unless `always` is set;
// otherwise the event is left as it is. True when attached. The screen must
// outlive the link's use of the event.
bool AttachTraffic(TSession &session, IScreen &screen, bool always = false);

// The status byte a job ended by a port error leaves in its result
// (ROpResult), so that a caller that looks only at the byte never takes it
// for success.
inline constexpr uint8_t kStatusAborted = wire::kStatusPortFailed;
// What a job ended by any other error (an internal one) leaves: the exit
// table's internal error, which no status byte of the table has.
inline constexpr uint8_t kStatusInternalError = exits::kJobInternal;
