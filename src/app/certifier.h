#pragma once
// Who a certificate names: the technician's printed name, the service centre
// (organisation and address) and the bench, a name the centre gives each of
// its test places (a computer's host name is no such name).
//
// The settings file's [RECORDS] Organisation, Address and Bench hold for
// every user of the program; where it leaves one empty, the value the
// window asked for once (kept in the per-user store, group RECORDS) stands.
// The technician's name is always the user's own ("Technician" there).
#include <QString>
#include <QStringList>

class TSession;
class TUserStore;

struct RCertifier {
    QString mTechnician, mOrganisation, mAddress, mBench;
    QString mOrgKey{}; // fingerprint of the organisation key that approved the record's bench key; empty: none
};

// The values in force for the session's user; empty where none is set.
RCertifier CertifierSettings(TSession &session);

// The names of the values `certifier` lacks, in the order a form asks for
// them: "technician's printed name", "organisation", "address", "bench name".
QStringList MissingCertifierValues(const RCertifier &certifier);

// Keeps the non-empty values of `certifier` in the per-user store; the
// settings file's own values still win over them.
void KeepCertifier(TUserStore &store, const RCertifier &certifier);
