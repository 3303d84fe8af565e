#pragma once
// A journal that keeps what it is given, in order, and answers as told: the
// tests' window on what the jobs put on the record. A test session hands one
// to its session (TTestSession::CaptureJournal).
#include <string>
#include <vector>

#include "app/journal.h"

class TCapturingJournal : public IJournal {
public:
    std::string Record(const RJobRecord &job) override
    {
        records.push_back(job);
        return failure;
    }

    std::vector<RJobRecord> records;
    std::string failure; // what Record answers: empty when kept
};
