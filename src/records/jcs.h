#pragma once
// The JSON Canonicalization Scheme (RFC 8785) for the JSON values records
// hold: objects with their members sorted by the UTF-16 code units of their
// names, arrays, strings with the scheme's escapes (only '"', '\\' and the
// control characters; everything else as UTF-8), numbers in the ECMAScript
// form (integers as digits), true, false and null; no blank anywhere.
#include <QByteArray>
#include <QJsonValue>
#include <QString>

// The canonical text of a value; false (with the reason) for a number that
// has no JSON form (NaN, infinity) and for a text holding a lone surrogate
// (RFC 8785 refuses it: no UTF-8 can say it).
bool JcsSerialize(const QJsonValue &value, QByteArray &out, QString *error = nullptr);
QByteArray Jcs(const QJsonValue &value); // empty on failure

// ECMAScript's Number.prototype.toString of a finite double ("1e+21", "0.000001", "5e-324").
QByteArray JcsNumber(double value);
