#pragma once
// The developer layout's "TEST" page: the test and service commands and the
// EEPROM group with its grid. Until bytes have been read from a detector the
// grid's cells are drawn grey: the "FF" they hold is a stand-in, not data.
#include <array>
#include <functional>
#include <string>

#include <QWidget>

#include "files/eeprom_dump.h"

class QPushButton;
class QTableWidget;

class TServiceTestPage : public QWidget {
    Q_OBJECT

public:
    explicit TServiceTestPage(QWidget *parent = nullptr);

    // Shows the grid's texts; cells made now start as stand-ins.
    void ShowGrid(const REEPROMGrid &grid);
    // A read filled the rows from `firstRow` on (as far as one read carries):
    // they are data now.
    void MarkRowsRead(int firstRow);
    // Whether a cell is still a stand-in (never read, never typed).
    bool IsStandIn(int nCol, int nRow) const;
    // A cell the user edited, with its new text; it counts as data from now on.
    std::function<void(int nCol, int nRow, const std::string &text)> OnCellEdited;

    QPushButton *FactoryResetBtn() const { return FFactoryResetBtn; }
    QPushButton *IdentifyBtn() const { return FIdentifyBtn; }
    // "Beep ON", "R LED ON", "L LED ON", "Vibrator": actuator buttons 1 to 4.
    const std::array<QPushButton *, 4> &ActuatorBtns() const { return FActuatorBtns; }
    // "Clear Peak", "Bump Fail", "Bump Pass": report buttons 1 to 3.
    const std::array<QPushButton *, 3> &ReportBtns() const { return FReportBtns; }
    QPushButton *EEPROMReadBtn() const { return FEEPROMReadBtn; }
    QPushButton *EEPROMSaveBtn() const { return FEEPROMSaveBtn; }
    QTableWidget *Grid() const { return FGrid; }

private:
    QPushButton *FFactoryResetBtn = nullptr;
    QPushButton *FIdentifyBtn = nullptr;
    std::array<QPushButton *, 4> FActuatorBtns{};
    std::array<QPushButton *, 3> FReportBtns{};
    QPushButton *FEEPROMReadBtn = nullptr;
    QPushButton *FEEPROMSaveBtn = nullptr;
    QTableWidget *FGrid = nullptr;
};
