#pragma once
// The gas cylinders, kept with the service records in the store in force
// (shared through PostgreSQL as the records are): table cylinders, made by
// the migration to version 4 (schema.cpp). A cylinder is added once with
// what its label certifies, and later retired; it is never edited or
// removed, so the records that name it keep meaning what they said.
#include <optional>
#include <vector>

#include <QString>

#include "app/cylinder.h"

class TRecordStore;

// Adds the cylinder; its id is set. `who` is the login that added it.
bool AddCylinder(TRecordStore &store, RGasCylinder &cylinder, const QString &who, QString &error);
// All cylinders, by id.
bool ListCylinders(TRecordStore &store, std::vector<RGasCylinder> &out, QString &error);
// nullopt with an empty error when there is no such cylinder.
std::optional<RGasCylinder> GetCylinder(TRecordStore &store, qint64 id, QString &error);
// Retires the cylinder: false with an empty error when there is no such one.
bool RetireCylinder(TRecordStore &store, qint64 id, QString &error);
