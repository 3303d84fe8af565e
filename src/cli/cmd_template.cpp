// template: configuration templates kept with the service records (the store
// in force, so that every bench of a service centre sharing one PostgreSQL
// store sees the same templates and versions).
//   template save NAME (--from-device | --from FILE.cfg) [--fields user|all|LIST]
//   template list [--json]
//   template show NAME [--version N] [--json]
//   template diff NAME     the detector against the template: 0 equal, 1 differs
//   template delete NAME   hidden from list and use; its versions stay for the records
// A store that cannot be opened gives 69, an unknown template 65.
#include <iostream>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/config_jobs.h"
#include "app/device_job.h"
#include "app/journal.h"
#include "app/session.h"
#include "cli/cli_commands.h"
#include "model/convert.h"
#include "records/location.h"
#include "records/record.h"
#include "records/store.h"
#include "records/template_take.h"
#include "records/templates.h"

namespace {

int Fail(int code, const std::string &text)
{
    std::cerr << "beamport-cli: " << text << "\n";
    return code;
}

std::unique_ptr<TRecordStore> OpenStore(const TSession &session, int &code)
{
    QString error;
    std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        code = Fail(kExitUnavailable, error.toStdString());
    return store;
}

// The template to use: the newest version of a name not deleted, or the version named.
std::optional<RStoredTemplate> Find(TRecordStore &store, const std::string &name, int version, int &code)
{
    QString error;
    bool refused = false;
    std::optional<RStoredTemplate> t = LoadTemplate(store, name, version, error, &refused);
    if (!t)
        code = error.isEmpty() ? Fail(kExitFile, "there is no template " + name +
                                                     (version > 0 ? " version " + std::to_string(version) : ""))
               : refused ? Fail(kExitFile, "refused: " + error.toStdString())
                         : Fail(kExitUnavailable, error.toStdString());
    return t;
}

// A record showing the values: the template's fields over the default record
// of its sensor (the units of levels come from the sensor type).
std::string ValueText(const RTemplateField &f, uint8_t sensor, const std::vector<RSensorType> &types)
{
    RTamselCFG cfg = DefaultCFG();
    if (sensor != 0)
        cfg.mSensor.mSensorType = sensor;
    std::string ignored;
    SetFieldValue(cfg, *f.mField, f.mValue, ignored);
    return FieldValueText(*f.mField, cfg, types);
}

QJsonObject TemplateJson(const RStoredTemplate &t)
{
    const RConfigTemplate &tpl = t.mTemplate;
    QJsonObject o{{QStringLiteral("name"), QString::fromStdString(tpl.mName)},
            {QStringLiteral("version"), tpl.mVersion},
            {QStringLiteral("hash"), QString::fromStdString(tpl.mHash)},
            {QStringLiteral("sensor"), static_cast<int>(tpl.mSensor)},
            {QStringLiteral("fields"), TemplateFieldsToJson(tpl.mFields)},
            {QStringLiteral("saved"), t.mSaved},
            {QStringLiteral("bench"), t.mBench},
            {QStringLiteral("user"), t.mUser},
            {QStringLiteral("deleted"), t.mHidden},
            {QStringLiteral("key_id"), t.mKeyId}};
    if (!t.mFault.isEmpty())
        o.insert(QStringLiteral("not_usable"), t.mFault);
    return o;
}

std::string Saved(const RStoredTemplate &t)
{
    return VisibleText(t.mSaved).toStdString() + " by " + VisibleText(t.mUser).toStdString() + "@" +
           VisibleText(t.mBench).toStdString();
}

int Save(CliContext &c, std::vector<std::string> &args)
{
    std::string file, choice = "user";
    const bool fromFile = TakeOption(args, "--from", file);
    const bool fromDevice = TakeFlag(args, "--from-device");
    TakeOption(args, "--fields", choice);
    if (args.size() != 1 || fromFile == fromDevice)
        return UsageError(c, "template save NAME (--from-device | --from FILE.cfg) [--fields user|all|LIST]");
    const std::string name = args[0];
    if (const std::string problem = TemplateNameProblem(name); !problem.empty())
        return UsageError(c, problem);
    std::vector<const RConfigField *> fields;
    std::string why;
    if (!ChooseFields(choice, c.session.DeviceCFG, fields, why))
        return UsageError(c, "--fields: " + why);
    RConfigTemplate probe;
    for (const RConfigField *f : fields)
        probe.mFields.push_back({f, {}});
    const std::vector<const RConfigField *> outside = FieldsOutside(probe, CFGWriteRanges(c.session.DeviceCFG));
    if (!outside.empty())
        return Fail(kExitRefused, "refused: " + FieldNames(outside) + (outside.size() == 1 ? " lies" : " lie") +
                                      " outside every write range of the settings in force");
    if (fields.empty())
        return Fail(kExitRefused, "refused: the settings in force have no field in their user write ranges");

    int code = 0;
    const std::unique_ptr<TRecordStore> store = OpenStore(c.session, code);
    if (!store)
        return code;
    RTamselCFG cfg{};
    if (fromFile) {
        if (const int fileCode = ConfigOfFile(c, file, cfg); fileCode != 0)
            return fileCode;
    } else if (const ROpResult op = ReadDetectorForTemplate(c.session, c.screen, name, cfg); !op.Ok()) {
        return op.mStatus;
    }
    const RTemplateTaken taken = SaveTemplateOf(c.session, *store, name, cfg, fields);
    if (!taken.mSaved)
        return Fail(taken.mRefused ? kExitRefused : kExitUnavailable, (taken.mUnsafe ? "refused: " : "") + taken.mWhy);
    const RConfigTemplate &tpl = taken.mTemplate;
    std::cout << "Template " << name << " version " << tpl.mVersion << " saved: " << tpl.mFields.size()
              << (tpl.mFields.size() == 1 ? " field" : " fields") << ", sha256 " << tpl.mHash << std::endl;
    return 0;
}

int List(CliContext &c, std::vector<std::string> &args)
{
    const bool json = TakeFlag(args, "--json");
    if (!args.empty())
        return UsageError(c, "template list [--json]");
    int code = 0;
    const std::unique_ptr<TRecordStore> store = OpenStore(c.session, code);
    if (!store)
        return code;
    std::vector<RStoredTemplate> all;
    QString error;
    if (!ListTemplates(*store, all, error))
        return Fail(kExitUnavailable, error.toStdString());
    if (json) {
        QJsonArray array;
        for (const RStoredTemplate &t : all)
            array.append(TemplateJson(t));
        std::cout << QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString() << std::flush;
        return 0;
    }
    for (const RStoredTemplate &t : all)
        std::cout << t.mTemplate.mName << "  version " << t.mTemplate.mVersion << "  " << t.mTemplate.mFields.size()
                  << (t.mTemplate.mFields.size() == 1 ? " field" : " fields") << "  " << Saved(t) << "  "
                  << t.mTemplate.mHash.substr(0, 16)
                  << (t.mFault.isEmpty() ? std::string() : "  NOT USABLE: " + t.mFault.toStdString()) << "\n";
    std::cout << std::flush;
    return 0;
}

int Show(CliContext &c, std::vector<std::string> &args)
{
    const bool json = TakeFlag(args, "--json");
    const bool versions = TakeFlag(args, "--versions");
    std::string versionText;
    int version = 0;
    if (TakeOption(args, "--version", versionText)) {
        bool ok = false;
        version = QString::fromStdString(versionText).toInt(&ok);
        if (!ok || version < 1)
            return UsageError(c, "--version \"" + versionText + "\" is not a version number (1, 2, ...)");
    }
    if (args.size() != 1)
        return UsageError(c, "template show NAME [--version N] [--json]");
    if (versions && (version > 0 || json))
        return UsageError(c, "template show NAME --versions lists every version: no --version or --json with it");
    int code = 0;
    const std::unique_ptr<TRecordStore> store = OpenStore(c.session, code);
    if (!store)
        return code;
    if (versions)
        return ShowTemplateVersions(*store, args[0]);
    const std::optional<RStoredTemplate> t = Find(*store, args[0], version, code);
    if (!t)
        return code;
    if (json) {
        std::cout << QJsonDocument(TemplateJson(*t)).toJson(QJsonDocument::Indented).toStdString() << std::flush;
        return 0;
    }
    const RConfigTemplate &tpl = t->mTemplate;
    std::cout << "Template " << tpl.mName << " version " << tpl.mVersion << (t->mHidden ? " (deleted)" : "") << "\n"
              << "saved " << Saved(*t) << "\n"
              << "sha256 " << tpl.mHash << "\n";
    for (const RTemplateField &f : tpl.mFields)
        std::cout << f.mField->mName << ": " << ValueText(f, tpl.mSensor, c.session.SensorTypes) << "\n";
    std::cout << std::flush;
    return 0;
}

int Diff(CliContext &c, std::vector<std::string> &args)
{
    if (args.size() != 1)
        return UsageError(c, "template diff NAME");
    int code = 0;
    const std::unique_ptr<TRecordStore> store = OpenStore(c.session, code);
    if (!store)
        return code;
    const std::optional<RStoredTemplate> t = Find(*store, args[0], 0, code);
    if (!t)
        return code;
    const RCompare compare = CompareWithTemplate(c.session, c.screen, t->mTemplate);
    if (!compare.Ok())
        return compare.mRead.mStatus;
    for (const std::string &line : compare.mLines)
        std::cout << line << "\n";
    std::cout << std::flush;
    if (compare.mSensorMismatch)
        std::cerr << "beamport-cli: the template's levels were taken from another sensor: program would refuse "
                     "this detector"
                  << std::endl;
    return compare.mLines.empty() ? 0 : kExitFound;
}

int Delete(CliContext &c, std::vector<std::string> &args)
{
    if (args.size() != 1)
        return UsageError(c, "template delete NAME");
    int code = 0;
    const std::unique_ptr<TRecordStore> store = OpenStore(c.session, code);
    if (!store)
        return code;
    QString error;
    if (!HideTemplate(*store, args[0], error))
        return error.isEmpty() ? Fail(kExitFile, "there is no template " + args[0]) : Fail(kExitUnavailable, error.toStdString());
    std::cout << "Template " << args[0] << " deleted (its versions stay for the records that name them)" << std::endl;
    return 0;
}

} // namespace

CliEntry TemplateCommand()
{
    return {"template",
            "template save NAME [--from-device] [--from FILE.cfg] [--fields user|all|LIST]\n"
            "template list [--json] | template show NAME [--version N] [--json] | template show NAME --versions\n"
            "template diff NAME | template delete NAME",
            "configuration templates kept with the service records",
            "Templates hold configuration fields (by the record's field names) with the values every unit of a "
            "service centre gets; they live in the record store in force, so benches sharing one store share "
            "them. Each save makes a new version; older versions stay. `save` takes the values from the detector "
            "or from a .cfg file (read as `write` reads it): the fields inside the user write ranges of the "
            "settings in force (default), inside any write range (all), or a comma-separated list of field "
            "names; a field outside every write range is refused (67), and so are values `write` would refuse (alarm "
            "set points that contradict each other or lie outside the sensor's range: 67, the reason, nothing "
            "saved). `show` prints a version with its values (with --versions: every version, oldest first, "
            "deleted ones too: its number, when and by whom it was saved, the start of its hash, the bench key that "
            "signed it, and NOT USABLE with the reason when its hash or signature fails) "
            "and units; `diff` prints \"field: detector -> template\" for each field the detector holds "
            "otherwise (exit 0 when equal, 1 when not); `delete` hides a template (the records that name it keep "
            "it). An unknown template exits 65, a store that cannot be opened 69.",
            {{"--from-device", "save: take the values from the detector"},
             {"--from FILE.cfg", "save: take the values from a configuration file"},
             {"--fields user|all|LIST", "save: which fields the template sets (default user)"},
             {"--version N", "show: that version instead of the newest"},
             {"--versions", "show: list every version of the template"},
             {"--json", "list, show: JSON on stdout"}},
            [](CliContext &c) {
                if (c.args.empty())
                    return kExitUsage;
                const std::string sub = c.args[0];
                std::vector<std::string> args(c.args.begin() + 1, c.args.end());
                if (sub == "save")
                    return Save(c, args);
                if (sub == "list")
                    return List(c, args);
                if (sub == "show")
                    return Show(c, args);
                if (sub == "diff")
                    return Diff(c, args);
                if (sub == "delete")
                    return Delete(c, args);
                return UsageError(c, "template: no subcommand " + sub + " (save, list, show, diff, delete)");
            },
            ECliKind::kCompare};
}
