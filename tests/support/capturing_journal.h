#pragma once
// A journal that keeps what it is given, in order, and answers as told: the
// tests' window on what the jobs put on the record. It is the journal in
// force while it lives.
#include <string>
#include <vector>

#include "app/journal.h"

class TCapturingJournal : public IJournal {
public:
    TCapturingJournal() { SetJournal(this); }
    ~TCapturingJournal() override { SetJournal(nullptr); }
    TCapturingJournal(const TCapturingJournal &) = delete;
    TCapturingJournal &operator=(const TCapturingJournal &) = delete;

    void Record(const RJobRecord &job, const TJournalWarn &warn) override
    {
        records.push_back(job);
        if (!failure.empty() && warn)
            warn(failure);
    }
    void Started(const std::string &job, const QDateTime &) override { started.push_back(job); }

    std::vector<RJobRecord> records;
    std::vector<std::string> started; // the jobs that began (a record or not)
    std::string failure; // the warning Record gives: empty when kept
};
