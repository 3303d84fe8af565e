#pragma once
// The device actions of the main window's buttons, in the core: each runs in
// the operation frame and reaches the user only through IScreen.
#include <cstdint>
#include <string>

#include "app/screen.h"
#include "app/status.h"
#include "model/device_records.h"

class TComTamsel;

// The six identity lines of the Identify box, without line breaks between.
std::string IdentityText(const RTamselIdenty &identity);

class TDeviceActions {
public:
    TDeviceActions(TComTamsel &link, IScreen &screen) : FLink(link), FScreen(screen) {}

    // Identify: the identity in an information box captioned "Norvik Identify".
    ROpResult Identify();

protected:
    TComTamsel &FLink;
    IScreen &FScreen;
};
