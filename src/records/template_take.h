#pragma once
// A template taken where a technician stands: from the detector (a
// template-save job of its own, with its record) or from a .cfg file read as
// Read File reads it. It holds the fields of the settings' user write ranges,
// is checked as program checks a template before anything is sent, and is
// stored as a new version of its name.
#include <string>

#include <QStringList>

#include "app/config_template.h"
#include "model/settings_types.h"

class IScreen;
class TRecordStore;
class TSession;

enum class ETemplateSource { kDetector, kFile };

struct RTemplateTaken {
    bool mSaved = false;
    // Not saved: why, for a message. Empty when the read or the file choice
    // already told the user (a failed read, a refused file) or was cancelled.
    std::string mWhy;
    RConfigTemplate mTemplate; // saved: with its version and hash
};

RTemplateTaken TakeTemplate(TSession &session, IScreen &screen, TRecordStore &store, const std::string &name,
                            ETemplateSource source);

// The template's fields as the window names them, a line each, with the
// values it writes and their units: "High Alarm: 20.0 ppm".
QStringList TemplateFieldLines(const RConfigTemplate &tpl, const std::vector<RSensorType> &types);
