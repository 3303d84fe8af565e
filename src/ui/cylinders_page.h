#pragma once
// The "Cylinders" page of the Service Records window: the gas cylinders kept
// with the records (shared through PostgreSQL like them), a form that adds
// one with what its label certifies, and Retire for the one selected. A
// cylinder is never edited or removed: the records that name it keep meaning
// what they said.
#include <functional>
#include <vector>

#include <QWidget>

#include "app/cylinder.h"

class QComboBox;
class QDateEdit;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QTableWidget;
class TRecordStore;
class TSession;

class TCylindersPage : public QWidget {
public:
    // `say`: a line for the dialog's message area (error true: in red).
    TCylindersPage(TSession &session, std::function<void(const QString &, bool error)> say, QWidget *parent = nullptr);

    // The store the page lists and adds to (null: none can be used).
    void SetStore(TRecordStore *store);
    void Fill();
    void AddBtnClick();
    void RetireBtnClick();
    const std::vector<RGasCylinder> &Cylinders() const { return FCylinders; }

private:
    void SelectionChanged();

    TSession &FSession;
    std::function<void(const QString &, bool)> FSay;
    TRecordStore *FStore = nullptr;
    std::vector<RGasCylinder> FCylinders; // the table's order

    QTableWidget *FTable = nullptr;
    QComboBox *FGasCombo = nullptr;
    QDoubleSpinBox *FConcentrationSpin = nullptr;
    QLineEdit *FLotEdit = nullptr;
    QDateEdit *FExpiresEdit = nullptr;
    QLineEdit *FBalanceEdit = nullptr;
    QLineEdit *FMakerEdit = nullptr;
    QPushButton *FAddBtn = nullptr;
    QPushButton *FRetireBtn = nullptr;
};
