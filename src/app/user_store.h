#pragma once
// The per-user store of remembered values: the last folder of each kind of
// file, the last firmware image, the span gas of each sensor type and the
// window placement. Kept with QSettings, organisation "IR", application
// "Norvik" (on Linux ~/.config/IR/Norvik.conf, or under $XDG_CONFIG_HOME),
// one group per kind: EEPROM, FLASH, EVENT, Logging, CONFIGURE, SENSORCAL,
// WINDOW, RECORDS. Every write is flushed at once, so a later start sees it
// even if this run ends abruptly. Texts are read trimmed; a missing text
// reads empty. The session holds the program's one store.
#include <memory>
#include <optional>
#include <string>

class QSettings;

enum class TStoreGroup { EEPROM, FLASH, EVENT, Logging, CONFIGURE, SENSORCAL, WINDOW, RECORDS };

// The group's name as stored: "EEPROM", "FLASH", "EVENT", "Logging", ...
const char *StoreGroupName(TStoreGroup group);

// The file of the current user's store for simulate mode: beside the real
// one, under the application name "Norvik-simulated", so that what a
// simulated detector leaves behind (a demonstration's span gas, its folders)
// never becomes a real detector's default.
std::string SimulatedStoreFile();

// The window placement; each value missing from the store keeps the default given.
struct RWindowPlacement {
    int mWidth = 500;
    int mHeight = 760;
    int mLeft = 0;
    int mTop = 0;
};

class TUserStore {
public:
    // The current user's store.
    TUserStore();
    // A store kept in the given file (same format); for tests and tools.
    explicit TUserStore(const std::string &filePath);
    ~TUserStore();
    TUserStore(const TUserStore &) = delete;
    TUserStore &operator=(const TUserStore &) = delete;

    // Value "SaveDirectory" of EEPROM, EVENT, Logging, CONFIGURE or RECORDS
    // (certificates and record exports).
    std::string SaveDirectory(TStoreGroup group) const;
    void SetSaveDirectory(TStoreGroup group, const std::string &dir);

    // FLASH "ImageFile".
    std::string ImageFile() const;
    void SetImageFile(const std::string &path);

    // SENSORCAL: the last span gas concentration of a gas, in tenths, under
    // the sensor type's name; nullopt when none is stored (or it is not a number).
    std::optional<int> SpanGas(const std::string &sensorName) const;
    void SetSpanGas(const std::string &sensorName, int tenths);

    // WINDOW "WIDTH", "HEIGHT", "LEFT", "TOP".
    RWindowPlacement WindowPlacement(const RWindowPlacement &defaults = {}) const;
    void SetWindowPlacement(const RWindowPlacement &placement);

    // Plain access to any value of a group.
    std::string ReadText(TStoreGroup group, const std::string &name) const;
    void WriteText(TStoreGroup group, const std::string &name, const std::string &value);
    std::optional<int> ReadInteger(TStoreGroup group, const std::string &name) const;
    void WriteInteger(TStoreGroup group, const std::string &name, int value);
    bool Contains(TStoreGroup group, const std::string &name) const;

    // Where the values are kept.
    std::string FileName() const;

private:
    std::unique_ptr<QSettings> FSettings;
};
