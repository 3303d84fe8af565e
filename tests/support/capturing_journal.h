#pragma once
// A journal that keeps what it is given, in order, and answers as told: the
// tests' window on what the jobs put on the record. A test session hands one
// to its session (TTestSession::CaptureJournal).
#include <string>
#include <vector>

#include "app/journal.h"

class TCapturingJournal : public IJournal {
public:
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
