#pragma once
// One service record: what a finished job leaves in the store, its JSON
// form, its place in the hash chain and the kind of service it proves.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "app/journal.h"
#include "model/config_record.h"
#include "model/visible_text.h" // VisibleText: how a record's texts are shown

struct RServiceRecord {
    qint64 mId = 0;     // assigned by the store (0 until then)
    QString mUid;       // client-made, unique: lets a record be sent twice and stored once
    QString mTime;      // UTC, "yyyy-MM-ddTHH:mm:ss.zzzZ"
    QString mJob;
    int mStatus = 0;    // the job's code from the exit table (0, a status byte, exits::kJobDeclined, ...)
    QString mOutcome;   // one word: success, failed, declined, refused, stopped, started, declared, pass, fail
    QString mText;
    QString mSerial;
    QString mProduct;
    QString mFirmware;
    QString mHardware;
    QString mSensor;
    QString mBench;     // host name
    QString mUser;      // login
    bool mSimulated = false; // a simulated detector (--simulate, a pseudo-terminal)
    QJsonObject mData;
    QString mBenchKey;  // id of the public key of the bench that signed it
    QString mPrev;      // hash of the record before it in the chain
    QString mHash;
    QString mSig;       // the bench's signature over the 64 hex digits of mHash
};

// The record fields in their output order (JSON objects sort their keys;
// CSV columns and text views use this order).
const QStringList &RecordFieldNames();

// prev of the first record of a chain: 64 zeros.
extern const QString kGenesisHash;

// The fields as a store keeps them, in the order of RecordFieldNames:
// numbers, the flag as 0 or 1, texts (empty, never null), data as its
// DataText.
QVariantList RecordFieldValues(const RServiceRecord &record);
// The reverse: each field from `value(i)`, the i-th value of a row read in
// that order.
void SetRecordFieldValues(RServiceRecord &record, const std::function<QVariant(int)> &value);

// The record as a JSON object with exactly the record field names; data is an object.
QJsonObject RecordToJson(const RServiceRecord &record);
// The object the hash is taken of: every field but hash and sig.
QJsonObject HashedObject(const RServiceRecord &record);
// The reverse; false (with a reason) when a field is missing or of the wrong type.
bool RecordFromJson(const QJsonObject &object, RServiceRecord &record, QString &error);

// The hash rule of the chain: hash = lowercase hex of SHA-256 over the
// RFC 8785 canonical JSON (jcs.h) of HashedObject. prev is the hash of the
// record before it in the store's chain (ordered by id), kGenesisHash for the
// first record; sig signs the 64 hex digits of hash.
// Empty when the record has no canonical form (a text holding a lone
// surrogate, read from somewhere else than a job): such a record is never
// stored, and never matches a hash kept with it.
QString RecordHash(const RServiceRecord &record);
// A record kept in a bench's outbox has no id or prev yet: it is signed over
// the hash of its object with id 0 and prev empty, so an edit made to it
// before it is sent shows.
QString OutboxHash(const RServiceRecord &record);

// The rule of stores written before records were signed (schema 2), which
// their records keep up to the migration record: SHA-256 over the 64
// characters of prev followed by the compact JSON of id, time, job, status,
// text, serial, product, firmware, hardware, sensor, bench, user, data and
// prev, keys sorted, numbers as Qt writes them.
QString LegacyRecordHash(const RServiceRecord &record);
// The job and data.rule of the record the migration appends.
inline constexpr const char *kJobRecordsMigration = "records-migration";
inline constexpr const char *kChainRule = "sha256-jcs-ed25519";

// data as stored: the compact JSON text of the object.
QString DataText(const QJsonObject &data);

// A record of the job, as it stands before the store gives it id, prev and
// hash: a fresh uid, the time the job ran (job.mTime, else `timeUtc`), its
// status and outcome (DeriveOutcome when the job named none), bench and user
// given, serial, product, firmware, hardware and sensor (named by `types`)
// from the identity (else from the configuration) and data with the
// configuration read (as hex, under "config") added when the job did not put
// it in itself; a lone surrogate in a text of data becomes U+FFFD.
RServiceRecord RecordOfJob(const RJobRecord &job, const QDateTime &timeUtc, const QString &bench, const QString &user,
                           const std::vector<RSensorType> &types);


// Record times: UTC with milliseconds and a "Z".
QString RecordTime(const QDateTime &time);
// A time given on a command line or read from the store: "yyyy-MM-dd" (UTC
// midnight) or ISO 8601 with or without zone (no zone: UTC). Invalid on failure.
QDateTime ParseRecordTime(const QString &text);

// What a record proves, for the due list, decided by its outcome alone (the
// one rule; CountedSql says the same to a store). A calibration counts when a
// "sensor-cal" job ended `pass` (measured against a cylinder, as left within
// tolerance) or `success` (the procedure without a cylinder ended clear, from
// the calibration tool or followed in the logger dialog). A bump test counts
// when a measured "bump-test" ended `pass`, or a bare Bump Pass report
// ("bump-pass") was taken by the detector as the technician's word
// (`declared`) for a named serial. fail, failed, refused, stopped, started
// never count; nor does the factory "calibration" command.
enum class ERecordKind { kOther, kCalibration, kBump };
ERecordKind RecordKind(const QString &job, const QString &outcome, const QString &serial);
inline ERecordKind RecordKind(const RServiceRecord &r) { return RecordKind(r.mJob, r.mOutcome, r.mSerial); }
// The same rule as an SQL condition on the records table's columns job,
// outcome and serial, each written as `prefix` + column ("r." or "").
QString CountedSql(ERecordKind kind, const QString &prefix = QString());
// The kind column of stores written before the rule went by the outcome:
// "calibration" for a sensor-cal whose data.result was "OK" (and, before
// that, for the factory command), "bump" for any bump-pass with status 0.
// Such a stored kind is no fault; the due list goes by CountedSql.
bool LegacyKind(const RServiceRecord &r, const QString &storedKind);
// "calibration", "bump" or "other" (the store's kind column).
QString KindName(ERecordKind kind);

// The configuration a record carries under key ("config" or
// "config_after"): 256 hex digits. nullopt when absent or malformed.
std::optional<RTamselCFG> RecordConfig(const QJsonObject &data, const char *key = journal_data::kConfig);
QString ConfigToHex(const RTamselCFG &cfg);

// Intervals of a configuration: the calibration interval in seconds
// (mCalInterval) and the bump interval in days (mBumpInterval); 0 = none.
inline qint64 CalIntervalSeconds(const RTamselCFG &cfg) { return cfg.mSensor.mCalInterval; }
inline qint64 BumpIntervalDays(const RTamselCFG &cfg) { return cfg.mSensor.mBumpInterval; }

// The sensor type's name for a code ("H2S") in `types` (the session's
// SensorTypes); "0xNN" for a code without an entry, empty for 0.
QString SensorName(uint8_t code, const std::vector<RSensorType> &types);

// CSV: header and one line per record, fields quoted where they hold a comma,
// quote or line break, quotes doubled; data as its JSON text. A text from
// the detector or a person that a spreadsheet would take for a formula
// (starting with =, +, -, @, a tab or a carriage return) gets a leading '.
// No line end.
QString CsvHeader();
QString CsvLine(const RServiceRecord &record);

// Writes the records as a CSV file (CsvHeader, then CsvLine each, CR LF
// lines), replacing an existing file only with a complete new one.
bool WriteRecordsCsv(const std::vector<RServiceRecord> &records, const std::string &path, std::string *error);
