#pragma once
// EEPROM Read and Save File of the TEST page: the read in the operation frame
// into the grid, and the dump file with its dialog and remembered folder.
#include <string>

#include "app/cfg_actions.h"
#include "app/device_job.h"
#include "files/eeprom_dump.h"

class IScreen;
class TSession;

inline constexpr const char *kEEPROMReadPrefix = "Read EEPROM data";
inline constexpr const char *kEEPROMSaveTitle = "Save EEPROM Data...";
inline constexpr const char *kEEPROMFilter = "Data file (*.csv)";
inline constexpr const char *kEEPROMDefaultExt = "CSV";
inline constexpr const char *kEEPROMSaveCaption = "Save EEPROM Data";
inline constexpr const char *kEEPROMNotSavedText = "EEPROM data file did not save\rRetry SAVE FILE";


// Read: "Read EEPROM data..." busy, OpenUSB, ReadEEPROMData with the
// settings' packet size, start and end, close, result. Only a successful
// read touches the grid.
ROpResult EEPROMReadAction(TSession &session, IScreen &screen, REEPROMGrid &grid);
// Save File: the dialog, the dump, the message on failure, and the folder
// remembered (with its trailing separator) either way.
EFileOutcome EEPROMSaveAction(TSession &session, IScreen &screen, const REEPROMGrid &grid,
                              std::string *chosenPath = nullptr);
