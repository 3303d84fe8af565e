#pragma once
// Configurations the records keep, for writing one back and for naming what a
// detector held before a write that read nothing first.
#include <optional>

#include <QString>

#include "app/config_jobs.h"

class TRecordStore;

// The newest record of the serial, at or before `time` (record time), that
// read its configuration (data "config" or "backup"). nullopt with an empty
// error when there is none.
std::optional<RKeptConfig> ConfigBefore(TRecordStore &store, const QString &serial, const QString &time,
                                        QString &error);

// The configuration record `id` keeps: the one read before its write
// ("backup"), else the one it read ("config"), else (a write that read
// nothing first) that of the record it names as the configuration before.
// nullopt with the reason (no such record, none kept).
std::optional<RKeptConfig> KeptConfigOf(TRecordStore &store, qint64 id, QString &error);

// {"id", "time"} of a kept configuration, as a record's data names it.
QJsonObject KeptConfigRef(const RKeptConfig &kept);
