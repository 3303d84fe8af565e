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
// Everything its label says: "3: H2S 25 ppm, lot L-1, balance N2, made by
// Gasco, expires 2027-03-31" (balance and maker where known).
QString CylinderWholeText(const RGasCylinder &cylinder);
// The index in `cylinders` of the one cylinder a calibration of the
// detector whose configuration is `cfg` can use on `today` ("YYYY-MM-DD"):
// in service, not expired, its gas the sensor's and its concentration in
// range. -1 when none or more than one can.
int OnlyFittingCylinder(const std::vector<RGasCylinder> &cylinders, const RTamselCFG &cfg,
                        const std::vector<RSensorType> &types, const std::string &today);
