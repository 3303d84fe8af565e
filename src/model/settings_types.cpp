#include "model/settings_types.h"

std::vector<RSensorType> BuiltInSensorTypes()
{
    return {
        {"H2S", 1, "ppm", "SH", 180, 0.0f, 100.0f},
        {"CO", 2, "ppm", "SC", 180, 0.0f, 300.0f},
        {"O2", 4, "%", "SO", 60, 0.0f, 30.0f},
    };
}
