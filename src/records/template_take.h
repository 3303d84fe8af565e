#pragma once
// A template taken where a technician stands: from the detector (a
// template-save job of its own, with its record) or from a .cfg file read as
// Read File reads it. It holds the fields of the settings' user write ranges,
// is checked as program checks a template before anything is sent, and is
// stored as a new version of its name.
#include <string>

#include <QStringList>

#include "app/config_template.h"
#include "app/device_job.h"
#include "model/settings_types.h"

class IScreen;
class TRecordStore;
class TSession;

enum class ETemplateSource { kDetector, kFile };

struct RTemplateTaken {
    bool mSaved = false;
    bool mUnsafe = false;  // not saved: program would refuse to write it
    bool mRefused = false; // not saved: unsafe, or the store refused it (rather than failed to answer)
    // Not saved: why, for a message. Empty when the read or the file choice
    // already told the user (a failed read, a refused file) or was cancelled.
    std::string mWhy;
    RConfigTemplate mTemplate; // saved: with its version and hash
};

// The detector's configuration read by a template-save job of its own (its
// record names the template).
ROpResult ReadDetectorForTemplate(TSession &session, IScreen &screen, const std::string &name, RTamselCFG &cfg);

// The template NAME of those fields of `cfg`, checked as program checks a
// template before anything is sent, then stored as a new version of its
// name.
RTemplateTaken SaveTemplateOf(TSession &session, TRecordStore &store, const std::string &name, const RTamselCFG &cfg,
                              const std::vector<const RConfigField *> &fields);

RTemplateTaken TakeTemplate(TSession &session, IScreen &screen, TRecordStore &store, const std::string &name,
                            ETemplateSource source);

// The template's fields as the window names them, a line each, with the
// values it writes and their units: "High Alarm: 20.0 ppm".
QStringList TemplateFieldLines(const RConfigTemplate &tpl, const std::vector<RSensorType> &types);
