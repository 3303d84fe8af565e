#pragma once
// The cylinders a dialog offers: those kept with the service records of the
// session's store in force.
#include <vector>

#include <QString>

#include "app/cylinder.h"

class TSession;

// Every cylinder of the store in force, by id; none, with the reason in
// `error`, when the store cannot be used (records off, out of reach).
std::vector<RGasCylinder> CylindersOnRecord(TSession &session, QString &error);
// "3: H2S 25 ppm, lot L-1, expires 2027-03-31": a cylinder as a picker lists it.
QString CylinderChoiceText(const RGasCylinder &cylinder);
