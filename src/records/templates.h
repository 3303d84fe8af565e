#pragma once
// Templates as the record store keeps them: every save of a name is a new
// version, older versions stay; a template that is deleted is hidden (records
// that name one of its versions still find it). Its canonical form is the
// RFC 8785 text (jcs.h) of {"fields": {...}, "name": ...}, the field values as
// the record holds them (numbers, character fields as text, one byte a
// character); its hash is the lowercase hex SHA-256 of that text.
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

#include "app/config_template.h"

class TRecordStore;

// A template with who saved it, where and when.
struct RStoredTemplate {
    RConfigTemplate mTemplate;
    QString mSaved;   // UTC record time of the save
    QString mBench;   // host
    QString mUser;    // login
    bool mHidden = false;
};

// The canonical text and its hash.
QByteArray TemplateCanonical(const std::string &name, const std::vector<RTemplateField> &fields);
QString TemplateHash(const std::string &name, const std::vector<RTemplateField> &fields);

// Why a name cannot be a template's (empty: it can): 1 to 64 characters,
// printable ASCII, no blank at either end.
std::string TemplateNameProblem(const std::string &name);

// Saves a new version of `tpl` (its name, sensor and fields; version and
// hash are given here and set in tpl). False with the reason.
bool SaveTemplate(TRecordStore &store, RConfigTemplate &tpl, const QString &bench, const QString &user,
                  QString &error);
// One version (0: the newest); a hidden template only when a version is
// named. nullopt with an empty error when there is none; a stored template
// whose fields no longer give its hash is an error.
std::optional<RStoredTemplate> LoadTemplate(TRecordStore &store, const std::string &name, int version, QString &error);
// The newest version of each template not hidden, by name.
bool ListTemplates(TRecordStore &store, std::vector<RStoredTemplate> &out, QString &error);
// Every version of one name, oldest first.
bool TemplateVersions(TRecordStore &store, const std::string &name, std::vector<RStoredTemplate> &out,
                      QString &error);
// Hides every version of the name; false with an empty error when there is none to hide.
bool HideTemplate(TRecordStore &store, const std::string &name, QString &error);
