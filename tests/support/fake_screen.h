#pragma once
// A scripted screen for headless tests: records everything device work shows
// (status texts with colours, message boxes, questions, file dialogs,
// progress, traffic lines) and answers questions and file dialogs from a
// script. Everything is public so tests read and prepare it directly.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/screen.h"

class TFakeScreen : public IScreen {
public:
    struct RStatus {
        RColor mBackground;
        RColor mText;
        std::string mCaption;
    };
    struct RMessage {
        std::string mCaption;
        std::string mText;
        MsgIcon mIcon;
    };
    struct RQuestion {
        std::string mCaption;
        std::string mText;
        bool mAnswer;
    };
    struct RFileRequest {
        bool mSave; // save dialog (else open dialog)
        FileChoice mChoice;
        std::optional<std::string> mAnswer;
    };
    struct RProgress {
        std::string mWhich;
        int mPosition;
        int mMax;
    };

    // --- IScreen ---
    void SetStatus(RColor background, RColor text, const std::string &caption) override;
    void ProcessMessages() override;
    void Message(const std::string &caption, const std::string &text, MsgIcon icon) override;
    bool AskYesNo(const std::string &caption, const std::string &text) override;
    std::optional<std::string> ChooseOpenFile(const FileChoice &choice) override;
    std::optional<std::string> ChooseSaveFile(const FileChoice &choice) override;
    void AppendTraffic(const std::string &line) override;
    void Progress(const std::string &which, int position, int max) override;
    void JournalWarning(const std::string &text) override;
    void AdapterTrouble(bool bTrouble) override;

    // --- script ---
    // Answers for AskYesNo, in order; when empty, defaultAnswer is used.
    std::deque<bool> answers;
    bool defaultAnswer = false;
    // Results of the file dialogs, in order; when empty, the dialog is cancelled.
    std::deque<std::optional<std::string>> openFiles;
    std::deque<std::optional<std::string>> saveFiles;
    // Called on every ProcessMessages (after counting it): lets a test act
    // "during" a long loop, e.g. press a stop button after N passes.
    std::function<void(int count)> onProcessMessages;
    // Called on every Message, after it is recorded.
    std::function<void(const RMessage &)> onMessage;

    // --- record ---
    std::vector<RStatus> statuses;
    std::vector<RMessage> messages;
    std::vector<RQuestion> questions;
    std::vector<RFileRequest> fileRequests;
    std::vector<std::string> traffic;
    std::vector<RProgress> progress;
    std::vector<std::string> journalWarnings;
    std::vector<bool> adapterTrouble; // every AdapterTrouble, in order (not in the journal)
    int processCount = 0;
    // Every call in order, one short line each: "status:<caption>",
    // "process", "message:<caption>|<text>", "ask:<caption>|<text>",
    // "open:<title>", "save:<title>", "traffic:<line>", "progress:<which>=<pos>/<max>".
    std::vector<std::string> journal;

    // --- conveniences ---
    // The current status bar (an empty caption with black on white when never set).
    RStatus LastStatus() const;
    std::string StatusCaption() const { return LastStatus().mCaption; }
    // The last message box; a default-constructed one when there was none.
    RMessage LastMessage() const;
    // The last position reported for a progress bar, or nullopt.
    std::optional<RProgress> LastProgress(const std::string &which) const;
    // Forgets everything recorded (the script stays).
    void ClearRecord();
};
