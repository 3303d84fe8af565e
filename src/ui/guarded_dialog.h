#pragma once
// A dialog that runs a job of its own: it fits the screen it is shown on,
// and neither the title bar's close button nor Escape closes it while the
// job may not be left (CloseAllowed).
#include <QCloseEvent>
#include <QDialog>
#include <QShowEvent>

#include "ui/screen_fit.h"

class TGuardedDialog : public QDialog {
public:
    using QDialog::QDialog;
    virtual bool CloseAllowed() const = 0;

    void reject() override
    {
        if (CloseAllowed())
            QDialog::reject();
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (CloseAllowed())
            event->accept();
        else
            event->ignore();
    }
    void showEvent(QShowEvent *event) override
    {
        QDialog::showEvent(event);
        FitToScreen(this);
    }
};
