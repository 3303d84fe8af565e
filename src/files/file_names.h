#pragma once
// Small helpers the file exports share: the folder of a chosen file and the
// local-time texts of proposed names and file headers.
#include <string>

#include "model/datetime.h"

// The folder of a chosen file, absolute, without a trailing separator (the
// root stays "/").
std::string FolderOfFile(const std::string &path);

// Local time of a day count as "YYMMDDHHNNSS", for proposed file names.
std::string NameTimeStamp(TDateTime t);

// A day count's local date as "yyyy-mm-dd" and time of day as "hh:nn:ss".
std::string DateText(TDateTime t);
std::string TimeText(TDateTime t);
