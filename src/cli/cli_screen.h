#pragma once
// The command line's screen: results on stdout, failures and traffic on
// stderr, questions answered by --yes, file choices given by arguments.
#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "app/screen.h"
#include "cli/stop_signals.h"

class TCliScreen : public IScreen {
public:
    TCliScreen() = default;
    ~TCliScreen() override;
    TCliScreen(const TCliScreen &) = delete;
    TCliScreen &operator=(const TCliScreen &) = delete;

    bool FYes = false;      // answer every question with Yes
    bool FTraffic = false;  // traffic lines to stderr
    bool FProgress = true;  // progress on stderr
    // stderr is a terminal (main finds out): progress is one line rewritten
    // in place. Otherwise each step is a line of its own ("packet 3/128"),
    // which scripts and the firmware tests read.
    bool FTerminal = false;
    std::deque<std::string> FFiles; // answers to the file dialogs, in order

    void SetStatus(RColor background, RColor text, const std::string &caption) override;
    // Runs FOnStop once when a stop was asked for (SIGINT, SIGTERM: StopRequested).
    void ProcessMessages() override;
    void Message(const std::string &caption, const std::string &text, MsgIcon icon) override;
    bool AskYesNo(const std::string &caption, const std::string &text) override;
    std::optional<std::string> ChooseOpenFile(const FileChoice &choice) override;
    std::optional<std::string> ChooseSaveFile(const FileChoice &choice) override;
    void AppendTraffic(const std::string &line) override;
    void Progress(const std::string &which, int position, int max) override;
    void JournalWarning(const std::string &text) override;

    // Takes the progress line away, so that other output starts on a clean line.
    void EndProgress();

    // For the commands that can stop cleanly (sensor-cal, upgrade): from here
    // on SIGINT and SIGTERM no longer end the program at once but ask the
    // running job to stop (a calibration sends its abort, a firmware download
    // stops after the packet under way), so the detector is not left
    // half-way. A second signal ends the program. SIGINT is left alone when it
    // was ignored at start (a background job of a shell). The signals wait
    // until StopRequested reads them (TStopSignals).
    //
    // With FLastWish set before it, the screen's own thread takes the
    // signals: the first is a stop request, the second runs FLastWish (the
    // job under way put on the record as stopped) and then ends the program
    // as the signal's default action does.
    void CatchStopSignals();
    // A stop signal arrived since CatchStopSignals. The first one read lets
    // the next end the program as it would without CatchStopSignals.
    bool StopRequested();
    // Gives the signals back (waiting for the screen's thread, and for a
    // last wish under way); the destructor does it too. Called before what
    // the last wish uses goes.
    void ReleaseStopSignals();

    std::string FLastStatus;
    bool FErrorShown = false;     // a failure text went to stderr
    std::function<void()> FOnStop; // what a stop request does for the running job
    std::function<void()> FLastWish; // what a second stop signal does first (set before CatchStopSignals)

private:
    std::atomic<bool> FProgressShown{false}; // also ended by a journal warning from the journal's thread
    TStopSignals FStop;
};

// "\r" line breaks as the terminal's.
std::string WithLineBreaks(const std::string &text);
