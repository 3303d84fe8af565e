#pragma once
// Templates as the record store keeps them: every save of a name is a new
// version, older versions stay; a template that is deleted is hidden (records
// that name one of its versions still find it). Its canonical form is the
// RFC 8785 text (jcs.h) of {"fields": {...}, "name": ...}, the field values as
// the record holds them (numbers, character fields as text, one byte a
// character); its hash is the lowercase hex SHA-256 of that text. Each
// version is signed by the key of the bench that saved it (key_id, sig: the
// signature over TemplateSignedHash), registered in the store's bench keys;
// a version whose fields, hash or signature do not hold, whose key is not
// registered or was revoked, or that was saved before versions were signed
// (no signature: it cannot be told from one written without a key) is never
// used: save it again.
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
    QString mKeyId;   // the bench key that signed it
    QString mFault;   // why it must not be used; empty when it is sound
};

// The canonical text and its hash.
QByteArray TemplateCanonical(const std::string &name, const std::vector<RTemplateField> &fields);
QString TemplateHash(const std::string &name, const std::vector<RTemplateField> &fields);

// What a version's signature covers: SHA-256 (lowercase hex) of the RFC 8785
// text of {bench, hash, key_id, name, saved, sensor, user, version}.
QString TemplateSignedHash(const RStoredTemplate &stored);

// Why a name cannot be a template's (empty: it can): 1 to 64 characters,
// printable ASCII, no blank at either end.
std::string TemplateNameProblem(const std::string &name);

// Saves a new version of `tpl` (its name, sensor and fields; version and
// hash are given here and set in tpl), signed by the store's bench key. False
// with the reason; `refused` set when the bench has no key that may sign.
bool SaveTemplate(TRecordStore &store, RConfigTemplate &tpl, const QString &bench, const QString &user,
                  QString &error, bool *refused = nullptr);
// One version (0: the newest); a hidden template only when a version is
// named. nullopt with an empty error when there is none; a stored template
// that must not be used (mFault) is refused: nullopt, the fault in error and
// `refused` set.
std::optional<RStoredTemplate> LoadTemplate(TRecordStore &store, const std::string &name, int version, QString &error,
                                            bool *refused = nullptr);
// The newest version of each template not hidden, by name (each with its
// mFault, if any).
bool ListTemplates(TRecordStore &store, std::vector<RStoredTemplate> &out, QString &error);
// Every version of one name, oldest first.
bool TemplateVersions(TRecordStore &store, const std::string &name, std::vector<RStoredTemplate> &out,
                      QString &error);
// Hides every version of the name; false with an empty error when there is none to hide.
bool HideTemplate(TRecordStore &store, const std::string &name, QString &error);
