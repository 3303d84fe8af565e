#include "app/runtime_dir.h"

std::string PrivateTempFolderName(uint32_t uid) { return "beamport-" + std::to_string(uid); }
