#pragma once
// The process-wide settings a test changes (DeviceCFG, SensorTypes,
// UserMode), put back as they were when the guard goes.
#include <vector>

#include "model/settings_types.h"

class TSavedSettings {
public:
    TSavedSettings() = default;
    ~TSavedSettings()
    {
        DeviceCFG = FCfg;
        SensorTypes = FTypes;
        UserMode = FUserMode;
    }
    TSavedSettings(const TSavedSettings &) = delete;
    TSavedSettings &operator=(const TSavedSettings &) = delete;

private:
    RDeviceCFG FCfg = DeviceCFG;
    std::vector<RSensorType> FTypes = SensorTypes;
    bool FUserMode = UserMode;
};
