#pragma once
// A dialog that runs a job of its own: it takes the room it asks for where
// the screen it is shown on has it, and fits that screen,
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
        // The first time, the whole of what it asks for (a dialog is
        // otherwise held to two thirds of the screen), then brought within it.
        if (!FSized && !isMaximized())
            resize(sizeHint().expandedTo(minimumSizeHint()));
        FSized = true;
        FitToScreen(this);
    }

private:
    bool FSized = false;
};
