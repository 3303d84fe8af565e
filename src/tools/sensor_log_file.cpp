// The logger's display values, its CSV file's header and rows, and the
// file's name: what a log run shows and writes, apart from how it runs.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "files/atomic_save.h"
#include "model/convert.h"
#include "tools/sensor_logger.h"
#include "tools/tool_common.h"

namespace {

constexpr const char *kLogColumns =
    "Time,Sensor,Sensor Peak,Self-test failed,Last cal failed,Last bump failed,Calibration due,Bump due,"
    "Calibration Progress,LOW Alarm,HIGH Alarm,Battery,Battery ADC,Temperature,Temperature ADC";

} // namespace

RSensorLogDisplay LogDisplay(const RTamselSensor &sensor, const RTamselSensor &battery,
                             const RTamselSensor &temperature, double rElapsed)
{
    RSensorLogDisplay d;
    d.mSensorValue = GasReadingToStr(sensor);
    d.mSensorPeak = GasPeakToStr(sensor);
    d.mBatteryValue = ChannelValueToStr(battery);
    d.mBatteryAdc = ChannelAdcToStr(battery);
    d.mTemperatureValue = ChannelValueToStr(temperature);
    d.mTemperatureAdc = ChannelAdcToStr(temperature);
    for (size_t i = 0; i < kHistoryFlags.size(); ++i)
        d.mHistory[i] = FlagSet(sensor.mHistory, kHistoryFlags[i]);
    for (size_t i = 0; i < kAlarmFlags.size(); ++i)
        d.mAlarm[i] = FlagSet(sensor.mAlarm, kAlarmFlags[i]);
    d.mElapsed = rElapsed;
    d.mChartValue = static_cast<float>(GasOverRange(sensor) ? kGasOverRange / SensorDivisor(sensor) : GasValue(sensor));
    return d;
}

// ---- the CSV file ----

std::string LogLifeText(uint32_t nLifeRemaining)
{
    const RMonthDay md = LifeToMonthDay(nLifeRemaining);
    if (md.mMonths != 0)
        return std::to_string(md.mMonths) + "months " + std::to_string(md.mDays) + " days";
    if (md.mDays != 0)
        return std::to_string(md.mDays) + " days";
    return std::to_string(nLifeRemaining / 3600) + " hours";
}

std::vector<std::string> LogHeaderLines(const RTamselUnitCFG &mUnit)
{
    return {
        "Product Name,Corvane Norvik",
        "Log Type,Data Log",
        "Serial Number," + CharFieldToStr(mUnit.mSerial),
        "Firmware Version," + FWVersionToStr(mUnit.mFWVersion),
        "Life Remaining," + LogLifeText(mUnit.mLifeRemaining),
        "Total Number of Events," + std::to_string(mUnit.mAlarmCount),
        "Duration of events," + std::to_string(mUnit.mAlarmTime),
        "Number of self-tests," + std::to_string(mUnit.mTestCount),
        "",
        kLogColumns,
    };
}

std::string LogRow(TDateTime rTime, const RTamselSensor &sensor, const RTamselSensor &battery,
                   const RTamselSensor &temperature)
{
    const RDateTimeFields f = DateTimeFields(rTime);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d %02d:%02d:%02d:%03d", f.mMonth, f.mDay, f.mHour, f.mMinute,
                  f.mSecond, f.mMilli);
    std::string row = stamp;
    const auto field = [&row](const std::string &text) {
        row += ',';
        row += text;
    };
    field(GasReadingToStr(sensor));
    field(GasPeakToStr(sensor));
    for (const RFlagCaption &flag : kHistoryFlags)
        field(FlagSet(sensor.mHistory, flag) ? "YES" : "");
    field((sensor.mAlarm & 0x04) ? "LOW" : "");
    field((sensor.mAlarm & 0x08) ? "HIGH" : "");
    field(ChannelValueToStr(battery));
    field(ChannelAdcToStr(battery));
    field(ChannelValueToStr(temperature));
    field(ChannelAdcToStr(temperature));
    return row;
}

std::string LogFileName(const RTamselIdenty &mIdenty, TDateTime rNow)
{
    std::string serial = CharFieldToStr(mIdenty.mSerial);
    // A separator in the serial would turn the proposal into a sub-folder.
    std::replace(serial.begin(), serial.end(), '/', '_');
    return serial + "_DAT_" + NameTimeStamp(rNow) + ".CSV";
}

bool WriteLogHeader(const std::string &FileName, const RTamselUnitCFG &mUnit)
{
    // The name is UTF-8: a path object opens it as such on every system.
    const std::filesystem::path path(std::u8string(FileName.begin(), FileName.end()));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    for (const std::string &line : LogHeaderLines(mUnit))
        out << line << "\r\n";
    out.close();
    return static_cast<bool>(out);
}

bool AppendLine(const std::string &FileName, const std::string &Line)
{
    // A file that was removed while logging stays removed.
    return AppendToFile(FileName, Line + "\r\n");
}
