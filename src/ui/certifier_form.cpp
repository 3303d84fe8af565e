#include "ui/certifier_form.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/session.h"

namespace {

struct RCertifierField {
    const char *mName;  // as MissingCertifierValues names it
    const char *mLabel; // on the form
    const char *mObject;
    QString RCertifier::*mValue;
};

constexpr RCertifierField kFields[] = {
    {"technician's printed name", "Your name as printed on certificates", "CertifierTechnicianEdit", &RCertifier::mTechnician},
    {"organisation", "Organisation (service centre)", "CertifierOrganisationEdit", &RCertifier::mOrganisation},
    {"address", "Its address", "CertifierAddressEdit", &RCertifier::mAddress},
    {"bench name", "This bench's name", "CertifierBenchEdit", &RCertifier::mBench},
};

} // namespace

bool ShowCertifierForm(RCertifier &values, const QStringList &missing, QWidget *parent)
{
    QDialog form(parent);
    form.setObjectName(QStringLiteral("CertifierForm"));
    form.setWindowTitle(QStringLiteral("Who certifies"));
    auto *v = new QVBoxLayout(&form);
    auto *why = new QLabel(QStringLiteral("Certificates name the technician, the service centre and the bench. "
                                          "These are not set yet; they are asked once and kept for you."));
    why->setWordWrap(true);
    v->addWidget(why);
    auto *rows = new QFormLayout;
    std::vector<std::pair<QLineEdit *, QString RCertifier::*>> edits;
    for (const RCertifierField &f : kFields) {
        if (!missing.contains(QLatin1String(f.mName)))
            continue;
        auto *edit = new QLineEdit(values.*f.mValue);
        edit->setObjectName(QLatin1String(f.mObject));
        edit->setMinimumWidth(320);
        rows->addRow(QLatin1String(f.mLabel), edit);
        edits.emplace_back(edit, f.mValue);
    }
    v->addLayout(rows);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &form, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &form, &QDialog::reject);
    v->addWidget(buttons);
    if (form.exec() != QDialog::Accepted)
        return false;
    for (const auto &[edit, value] : edits)
        values.*value = edit->text().trimmed();
    return true;
}

void AskCertifierOnce(TSession &session, bool &asked, const FCertifierPrompt &prompt, QWidget *parent)
{
    const RCertifier now = CertifierSettings(session);
    const QStringList missing = MissingCertifierValues(now);
    if (missing.isEmpty() || asked || !prompt)
        return;
    asked = true;
    RCertifier answer = now;
    if (!prompt(answer, missing, parent))
        return;
    // Only what was missing: the settings file's own values stay its own.
    RCertifier keep;
    for (const RCertifierField &f : kFields)
        if (missing.contains(QLatin1String(f.mName)))
            keep.*f.mValue = answer.*f.mValue;
    KeepCertifier(session.Store(), keep);
}
