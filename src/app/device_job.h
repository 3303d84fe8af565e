#pragma once
// The one way a device job runs. A job (one button press, one command of the
// command line, one calibration run) opens its service record when it
// starts, talks to the detector in one or more frames, and finishes its
// record once, after the link is closed, whatever its outcome.
//
// A frame: the busy text, OpenUSB with DeviceCFG.mConnectTime / 1000 s, the
// job's steps while the status stays 0, its close (CloseUSB with the status
// unless the job has a close rule of its own), ShowResult. An error raised
// outside a transaction ends the frame at once: the port is dropped without
// an end-of-connection request, the error box is shown, the busy text stays.
//
// A job of one frame says only what it is:
//
//   RunJob(session, screen, {kJobLogReset, "Event Log Reset", steps});
//
// A job of several frames, or one with a file to save before its record is
// finished, holds a TDeviceJob:
//
//   TDeviceJob job(session, screen, kJobEeprom);
//   const ROpResult op = job.Run(kEEPROMReadPrefix, steps);
//   ... the grid ...
//   job.Finish(data);
#include <cstdint>
#include <functional>
#include <string>

#include <QDateTime>
#include <QJsonObject>

#include "app/screen.h"
#include "app/status.h"

class TComTamsel;
class TSession;

// What ended a frame.
struct ROpResult {
    uint8_t mStatus = 0;     // the status byte handed to the result (0 = success); see mPortError when aborted
    bool mAborted = false;   // an error raised outside a transaction ended it
    bool mPortError = false; // ... and it was the port's (mStatus kStatusAborted; else kStatusInternalError)
    std::string mError;      // that error's text
    bool Ok() const { return !mAborted && mStatus == 0; }
};

// A job's commands, run on the open link; they return the status.
using TOpSteps = std::function<uint8_t()>;
// A job's close rule: gets the steps' status, closes the link, and returns
// the status to report (for remappings such as 177 -> 193).
using TOpClose = std::function<uint8_t(TComTamsel &link, uint8_t status)>;

class TDeviceJob {
public:
    // The job starts: its record opens with the job's time (now, or `time`
    // when given: a command of the logger recorded after the run), and the
    // link forgets what it saw before; the journal hears that the job is
    // under way. bForget false: a job inside a running one (a command sent
    // from the logger) takes what the link saw for the run so far, and the
    // running job stays the one under way.
    TDeviceJob(TSession &session, IScreen &screen, const char *job, bool bForget = true, const QDateTime &time = {});
    // A job left without Finish (an early return, an exception) is no longer
    // under way.
    ~TDeviceJob();
    TDeviceJob(const TDeviceJob &) = delete;
    TDeviceJob &operator=(const TDeviceJob &) = delete;

    // One frame with its texts: ShowBusy(prefix), the link work, ShowResult(prefix).
    ROpResult Run(const std::string &prefix, const TOpSteps &steps, const TOpClose &close = {});
    // One frame that shows no text: the job words its outcome itself, or not
    // at all (an empty prefix: the actuator tests, the tools' exchanges). The
    // prefix still names the frame on the record.
    ROpResult Linked(const std::string &prefix, const TOpSteps &steps, const TOpClose &close = {});

    // The record, once. When the job reached for the detector, it takes the
    // identity and configuration the link saw, its time, whether the detector
    // was simulated, and goes to the session's journal; a job that never
    // opened the link (a refusal, a declined question, a cancelled dialog)
    // leaves none. The journal keeps it later, off this thread; a failure to
    // record reaches the user only as the screen's JournalWarning, from
    // whichever thread the journal finds it on. `data` is merged into what
    // the link saw (the configuration read first as "config", the last as
    // "config_after", the ranges written as "writes"; a null value drops what
    // the link saw under that key).
    //
    // With the last frame's outcome: its status and the status-bar text it
    // left for its prefix (none without one). After an error outside a
    // transaction that is the busy text, and the error goes into data as "error".
    void Finish(QJsonObject data = {});
    // The record's text names the job with `words` ("Compare with the
    // detector... OK") rather than with its last frame's prefix, where that
    // frame is another job's step (the read inside a compare). The status
    // bar is not touched.
    void NameOnRecord(std::string words) { FRecordName = std::move(words); }
    // The same for a frame whose outcome the job changed after it ran.
    void Finish(const ROpResult &op, const std::string &prefix, QJsonObject data = {});
    // With a status (the exit table's code) and text of the job's own (a
    // refusal after a read); outcome: one of the outcome words, empty for
    // DeriveOutcome.
    void Finish(uint8_t status, const std::string &text, const QJsonObject &data = {},
                const std::string &outcome = {});

private:
    TSession &FSession;
    IScreen &FScreen;
    std::string FJob;
    QDateTime FTime;
    bool FTopLevel = true;
    bool FDone = false;
    std::string FPrefix; // the last frame's
    std::string FRecordName; // NameOnRecord's
    ROpResult FLast;
};

// A job of one frame, as a button states it.
struct RFramedJob {
    const char *mName;     // its name on the record (kJobRead, ...)
    std::string mPrefix;   // its status-bar prefix; empty: it shows nothing
    TOpSteps mSteps;       // its commands on the open link
    TOpClose mClose = {};  // its close rule; empty: CloseUSB(status)
};

// The job: its frame (Run, or Linked without a prefix), then its record.
ROpResult RunJob(TSession &session, IScreen &screen, const RFramedJob &job);
