#pragma once
// How the records window words a record: its status in the exit table's
// words, its data entries with their units, its times in the bench's local
// time.
#include <QDateTime>
#include <QJsonValue>
#include <QString>

// Outcomes a technician must not miss.
bool BadOutcome(const QString &outcome);
// What a record's status stands for.
QString StatusMeaning(int status);
// One data entry with its unit where the record knows it.
QString DataValue(const QString &key, const QJsonValue &value, const QString &unit);
// A record time (UTC) in the bench's local time; an unreadable one as stored.
QString LocalTime(const QString &recordTime);
// A date of the due list: the day is what a technician plans by.
QString LocalDate(const QDateTime &t);
