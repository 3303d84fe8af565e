#include "files/event_log.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "files/atomic_save.h"
#include "files/file_names.h"
#include "model/convert.h"

namespace {

constexpr const char *kCRLF = "\r\n";

void Line(std::string &text, const std::string &line)
{
    text += line;
    text += kCRLF;
}

} // namespace

std::vector<RTamselEvent> ParseEventLog(const RComTamselReadBuf &mBuf, int nStride)
{
    std::vector<RTamselEvent> events;
    if (nStride < 1)
        return events;
    const int received = std::clamp<int32_t>(mBuf.mData, 0, kReadBufCapacity);
    const int count = received / nStride;
    for (int k = 0; k < count; ++k) {
        if (static_cast<int64_t>(k) * nStride + static_cast<int64_t>(sizeof(RTamselEvent)) > received)
            break;
        RTamselEvent e;
        if (!EventFromBuf(mBuf, k, nStride, e) || IsEventLogEnd(e))
            break;
        events.push_back(e);
    }
    return events;
}

void SortEventLog(std::vector<RTamselEvent> &events)
{
    for (size_t i = 0; i + 1 < events.size(); ++i)
        for (size_t j = i + 1; j < events.size(); ++j)
            if (events[i].mStartEvent < events[j].mStartEvent)
                std::swap(events[i], events[j]);
}

std::string EventLifeText(uint32_t nLifeRemaining)
{
    const RMonthDay md = LifeToMonthDay(nLifeRemaining);
    if (md.mMonths > 0)
        return std::to_string(md.mMonths) + "months " + std::to_string(md.mDays) + " days";
    return std::to_string(md.mDays) + " days";
}

TDateTime EventTime(const RTamselEvent &e, uint32_t nLifeRemaining, TDateTime rNow)
{
    const uint32_t ago = e.mStartEvent - nLifeRemaining; // wraps: an event "after" now lies 136 years back
    // Whole milliseconds, so that an event a day older is exactly a day earlier.
    const double nowMs = std::round(rNow * 86400000.0);
    return (nowMs - static_cast<double>(ago) * 1000.0) / 86400000.0;
}

std::string EventLogRow(const RTamselEvent &e, uint32_t nLifeRemaining, TDateTime rNow)
{
    const TDateTime at = EventTime(e, nLifeRemaining, rNow);
    std::string row = DateText(at) + "," + TimeText(at);
    row += IsBumpEvent(e) ? ",YES," : ",NO,";
    row += SecondsToHMS(EventDurationSeconds(e));
    row += ",";
    if (EventOverRange(e))
        row += "O.L.,";
    else
        row += ReadingToStr(static_cast<float>(e.mSensorReading) / 10.0f) + ",";
    if (e.mAlarmStatusFlag & kEventLowAlarm)
        row += "LOW Alarm ";
    if (e.mAlarmStatusFlag & kEventHighAlarm)
        row += "HIGH Alarm ";
    return row;
}

std::string EventLogText(const RTamselCFG &mCFG, const std::vector<RTamselEvent> &events, TDateTime rNow)
{
    const RTamselUnitCFG &u = mCFG.mUnit;
    std::string text;
    Line(text, "Product Name,Norvik");
    Line(text, "Log Type,Event Log");
    Line(text, "Serial Number," + CharFieldToStr(u.mSerial));
    Line(text, "Firmware Version," + FWVersionToStr(u.mFWVersion));
    Line(text, "ID," + CharFieldToStr(u.mUserID));
    Line(text, "Life Remaining," + EventLifeText(u.mLifeRemaining));
    Line(text, "Total Number of Events," + std::to_string(u.mAlarmCount));
    // Taken as signed: erased memory (all ones) shows as no duration.
    Line(text, "Duration of events," + SecondsToHMS(static_cast<int32_t>(u.mAlarmTime)));
    Line(text, "Number of self-tests," + std::to_string(u.mTestCount));
    Line(text, "");
    Line(text, kEventColumnTitles);
    for (const RTamselEvent &e : events)
        Line(text, EventLogRow(e, u.mLifeRemaining, rNow));
    return text;
}

bool SaveEventLog(const std::string &fileName, const RTamselCFG &mCFG, const std::vector<RTamselEvent> &events,
                  std::string *error)
{
    return WriteFileReplacing(fileName, EventLogText(mCFG, events, Now()), error);
}

std::string EventLogFileName(const RTamselCFG &mCFG, TDateTime rNow)
{
    std::string serial = CharFieldToStr(mCFG.mUnit.mSerial);
    // The serial comes from the detector: keep it from naming another folder.
    for (char &c : serial)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return serial + "_LOG_" + NameTimeStamp(rNow) + ".CSV";
}
