#pragma once
// Asking, once, for what certificates name and the settings do not hold:
// the technician's printed name, the organisation, its address and the
// bench's name (app/certifier.h). Asked before a measured job and before a
// certificate is made, at most once in a run of the window; what is given is
// kept for the user, so it is not asked again.
#include <functional>

#include <QStringList>

#include "app/certifier.h"

class QWidget;
class TSession;

// Fills the `missing` values of `values` (names as MissingCertifierValues
// gives them); false when the technician declined. Replaceable in tests.
using FCertifierPrompt = std::function<bool(RCertifier &values, const QStringList &missing, QWidget *parent)>;

// The form itself ("CertifierForm"): one line edit for each missing value.
bool ShowCertifierForm(RCertifier &values, const QStringList &missing, QWidget *parent);

// Asks through `prompt` when a value is missing and `asked` is still false
// (it becomes true), and keeps the answers in the user's store.
void AskCertifierOnce(TSession &session, bool &asked, const FCertifierPrompt &prompt, QWidget *parent);
