#pragma once
// Read File and Write File of the main window: the dialogs, the messages and
// the remembered folder around the .cfg format.
#include <functional>

#include "files/cfg_file.h"
#include "model/config_form.h"

class IScreen;
class TSession;
struct RMainState;

// The dialogs and messages of Read File and Write File.
inline constexpr const char *kCFGDefaultExt = "cfg";
inline constexpr const char *kCFGFilter = "configuration file (*.cfg)";
inline constexpr const char *kCFGOpenTitle = "Open Configuration File";
inline constexpr const char *kCFGSaveTitle = "Save Configuration File";
inline constexpr const char *kCFGReadCaption = "Read Configuration File";
inline constexpr const char *kCFGWriteCaption = "Write Configuration file";
inline constexpr const char *kCFGWrongText = "Configuration File is wrong\rReselect file";
inline constexpr const char *kCFGNotOpenText = "Configuration File did not open\rRetry READ FILE";
inline constexpr const char *kCFGNotSavedText = "Configuration File did not save\rRetry WRITE FILE";

enum class EFileOutcome {
    Done,      // the file was read / written
    Cancelled, // the dialog was cancelled: nothing changed
    Failed,    // the file could not be read, was refused, or could not be written (message shown)
};

// Write File after the dialog: writes the file in the session's layout, shows
// "Configuration File did not save" on failure, and remembers the file's
// folder (DeviceCFG.mConfSaveDir and CONFIGURE "SaveDirectory") either way.
// True when saved.
bool SaveConfigFile(TSession &session, IScreen &screen, const std::string &path, const RTamselCFG &mCFG);

// Read File on a record of the caller's: the dialog, then the file loaded
// over `cfg`, which changes only when the file was good ("Configuration
// File is wrong" or "did not open" otherwise); the file's folder is
// remembered either way.
EFileOutcome ReadConfigFile(TSession &session, IScreen &screen, RTamselCFG &cfg);

// A record as the window's editors give it back: `cfg` shown in a fresh view
// (StartConfigView over the default record, then ConfigToView) and built
// again from it (ViewToConfig, `readSW` the firmware version of the last
// read). With a screen, a life remaining cut while building for the detector
// shows the information box "Check Life Remaining", as Write Device does.
RViewResult RecordThroughView(const TSession &session, RTamselCFG &cfg, uint8_t readSW, bool forDevice,
                              IScreen *screen = nullptr);

// Read File, then the record Write Device would send of it (no box: nothing
// is written by the caller yet). Done only when the file was read.
EFileOutcome ReadConfigFileForDetector(TSession &session, IScreen &screen, RTamselCFG &sent);

// Write File of a record read from a detector with no editors in between:
// the record as the editors would build it for a file, then the dialog and
// the file, as Write File does.
EFileOutcome WriteRecordFile(TSession &session, IScreen &screen, RTamselCFG cfg, uint8_t readSW);

// Read File. After a record was applied the editing view is refreshed from
// state.FTamselCFG: ConfigToView into state.FForm, then viewChanged (the
// window binds its widgets to the new form). Nothing is refreshed when the
// dialog is cancelled or the file is refused.
EFileOutcome ReadConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                  const std::function<void()> &viewChanged = {});

// Write File. First the record is rebuilt from the editing view: formChanged
// (the window writes its widgets into state.FForm), then ViewToConfig with
// forDevice false into state.FTamselCFG; then the dialog and the file.
EFileOutcome WriteConfigFileAction(TSession &session, IScreen &screen, RMainState &state,
                                   const std::function<void()> &formChanged = {});

