#include "support/fake_screen.h"

void TFakeScreen::SetStatus(RColor background, RColor text, const std::string &caption)
{
    statuses.push_back({background, text, caption});
    journal.push_back("status:" + caption);
}

void TFakeScreen::ProcessMessages()
{
    ++processCount;
    journal.push_back("process");
    if (onProcessMessages)
        onProcessMessages(processCount);
}

void TFakeScreen::Message(const std::string &caption, const std::string &text, MsgIcon icon)
{
    messages.push_back({caption, text, icon});
    journal.push_back("message:" + caption + "|" + text);
    if (onMessage)
        onMessage(messages.back());
}

bool TFakeScreen::AskYesNo(const std::string &caption, const std::string &text)
{
    bool answer = defaultAnswer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    questions.push_back({caption, text, answer});
    journal.push_back("ask:" + caption + "|" + text);
    return answer;
}

std::optional<std::string> TFakeScreen::ChooseOpenFile(const FileChoice &choice)
{
    std::optional<std::string> answer;
    if (!openFiles.empty()) {
        answer = openFiles.front();
        openFiles.pop_front();
    }
    fileRequests.push_back({false, choice, answer});
    journal.push_back("open:" + choice.title);
    return answer;
}

std::optional<std::string> TFakeScreen::ChooseSaveFile(const FileChoice &choice)
{
    std::optional<std::string> answer;
    if (!saveFiles.empty()) {
        answer = saveFiles.front();
        saveFiles.pop_front();
    }
    fileRequests.push_back({true, choice, answer});
    journal.push_back("save:" + choice.title);
    return answer;
}

void TFakeScreen::AppendTraffic(const std::string &line)
{
    traffic.push_back(line);
    journal.push_back("traffic:" + line);
}

void TFakeScreen::Progress(const std::string &which, int position, int max)
{
    progress.push_back({which, position, max});
    journal.push_back("progress:" + which + "=" + std::to_string(position) + "/" + std::to_string(max));
}

void TFakeScreen::JournalWarning(const std::string &text)
{
    journalWarnings.push_back(text);
    journal.push_back("journal-warning:" + text);
}

void TFakeScreen::AdapterTrouble(bool bTrouble)
{
    adapterTrouble.push_back(bTrouble);
}

TFakeScreen::RStatus TFakeScreen::LastStatus() const
{
    if (statuses.empty())
        return {clWhite, clBlack, ""};
    return statuses.back();
}

TFakeScreen::RMessage TFakeScreen::LastMessage() const
{
    if (messages.empty())
        return {"", "", MsgIcon::Information};
    return messages.back();
}

std::optional<TFakeScreen::RProgress> TFakeScreen::LastProgress(const std::string &which) const
{
    for (auto it = progress.rbegin(); it != progress.rend(); ++it)
        if (it->mWhich == which)
            return *it;
    return std::nullopt;
}

void TFakeScreen::ClearRecord()
{
    statuses.clear();
    messages.clear();
    questions.clear();
    fileRequests.clear();
    traffic.clear();
    progress.clear();
    adapterTrouble.clear();
    journal.clear();
    processCount = 0;
}
