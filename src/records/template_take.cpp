#include "records/template_take.h"

#include <QJsonObject>

#include "app/cfg_actions.h"
#include "app/config_jobs.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/session.h"
#include "model/config_form.h"
#include "records/location.h"
#include "records/templates.h"

namespace {

} // namespace

RTemplateTaken TakeTemplate(TSession &session, IScreen &screen, TRecordStore &store, const std::string &name,
                            ETemplateSource source)
{
    RTemplateTaken taken;
    if (const std::string problem = TemplateNameProblem(name); !problem.empty()) {
        taken.mWhy = problem;
        return taken;
    }
    std::vector<const RConfigField *> fields;
    std::string why;
    if (!ChooseFields("user", session.DeviceCFG, fields, why) || fields.empty()) {
        taken.mWhy = why.empty() ? "the settings in force have no field in their user write ranges" : why;
        return taken;
    }
    RTamselCFG cfg{};
    if (source == ETemplateSource::kFile) {
        if (ReadConfigFileForDetector(session, screen, cfg) != EFileOutcome::Done)
            return taken;
    } else if (!ReadDetectorForTemplate(session, screen, name, cfg).Ok()) {
        return taken;
    }
    return SaveTemplateOf(session, store, name, cfg, fields);
}

ROpResult ReadDetectorForTemplate(TSession &session, IScreen &screen, const std::string &name, RTamselCFG &cfg)
{
    TDeviceJob job(session, screen, kJobTemplateSave);
    job.NameOnRecord("Save template " + name + " from the detector");
    RTamselIdenty identity{};
    const ROpResult op = ReadDetector(job, session, cfg, identity);
    job.Finish(QJsonObject{{QStringLiteral("template_name"), QString::fromStdString(name)}});
    return op;
}

RTemplateTaken SaveTemplateOf(TSession &session, TRecordStore &store, const std::string &name, const RTamselCFG &cfg,
                              const std::vector<const RConfigField *> &fields)
{
    RTemplateTaken taken;
    RConfigTemplate &tpl = taken.mTemplate;
    tpl.mName = name;
    tpl.mSensor = cfg.mSensor.mSensorType;
    tpl.mFields = TemplateFieldsOf(cfg, fields);
    // What program would refuse to write is not saved either.
    if (const RConfigProblem problem = TemplateWriteProblem(session, tpl); problem.Found()) {
        taken.mUnsafe = taken.mRefused = true;
        taken.mWhy = problem.Line() + " The template was not saved.";
        return taken;
    }
    QString error;
    if (!SaveTemplate(store, tpl, BenchName(), LoginName(), error, &taken.mRefused)) {
        taken.mWhy = "the template was not saved: " + error.toStdString();
        return taken;
    }
    taken.mSaved = true;
    return taken;
}

QStringList TemplateFieldLines(const RConfigTemplate &tpl, const std::vector<RSensorType> &types)
{
    // The values over the default record of the template's sensor, so that
    // levels read in its unit.
    RTamselCFG cfg = DefaultCFG();
    if (tpl.mSensor != 0)
        cfg.mSensor.mSensorType = tpl.mSensor;
    std::string ignored;
    ApplyTemplate(cfg, tpl, ignored); // a stored template's values fit their fields
    QStringList lines;
    for (const RTemplateField &f : tpl.mFields)
        lines << QString::fromStdString(FieldLabel(*f.mField) + ": " + FieldValueText(*f.mField, cfg, types));
    return lines;
}
