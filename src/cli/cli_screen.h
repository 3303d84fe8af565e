#pragma once
// The command line's screen: results on stdout, failures and traffic on
// stderr, questions answered by --yes, file choices given by arguments.
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "app/screen.h"

class TCliScreen : public IScreen {
public:
    bool FYes = false;      // answer every question with Yes
    bool FTraffic = false;  // traffic lines to stderr
    bool FProgress = true;  // progress on stderr
    // stderr is a terminal (main finds out): progress is one line rewritten
    // in place. Otherwise each step is a line of its own ("packet 3/128"),
    // which scripts and the firmware tests read.
    bool FTerminal = false;
    std::deque<std::string> FFiles; // answers to the file dialogs, in order

    void SetStatus(RColor background, RColor text, const std::string &caption) override;
    // Runs FOnStop once when a stop was asked for (SIGINT, SIGTERM) since the last call.
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

    std::string FLastStatus;
    bool FErrorShown = false;     // a failure text went to stderr
    std::function<void()> FOnStop; // what a stop request does for the running job

private:
    bool FProgressShown = false;
};

// For the commands that can stop cleanly (sensor-cal, upgrade): from here on
// SIGINT and SIGTERM no longer end the program at once but ask the running
// job to stop (a calibration sends its abort, a firmware download stops after
// the packet under way), so the detector is not left half-way. A second
// signal ends the program. SIGINT is left alone when it was ignored at start
// (a background job of a shell).
void InstallStopSignals();
bool StopRequested();
// What a second stop signal does before the program ends by it (the job's
// record written as stopped). Set once, before InstallStopSignals; it runs
// on a thread of its own.
void SetLastWish(std::function<void()> wish);

// "\r" line breaks as the terminal's.
std::string WithLineBreaks(const std::string &text);
