#include "cli/cli_cylinder.h"

#include <cctype>
#include <iostream>
#include <memory>

#include "cli/cli_commands.h"
#include "records/cylinder_store.h"
#include "records/store.h"

bool ParseWholeNumber(const std::string &text, int lo, int hi, int &value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char ch : text)
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            return false;
    const int v = std::stoi(text);
    if (v < lo || v > hi)
        return false;
    value = v;
    return true;
}

int FindCylinder(CliContext &c, const std::string &idText, RGasCylinder &cylinder)
{
    int id = 0;
    if (!ParseWholeNumber(idText, 1, 999999999, id))
        return UsageError(c, "--cylinder needs a cylinder id (a whole number from 1 up), not '" + idText + "'");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(c.session, error);
    if (!store) {
        std::cerr << "beamport-cli: the cylinders are kept with the service records: " << error.toStdString()
                  << std::endl;
        return kExitUnavailable;
    }
    const std::optional<RGasCylinder> found = GetCylinder(*store, id, error);
    if (!found) {
        if (!error.isEmpty()) {
            std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
            return kExitUnavailable;
        }
        std::cerr << "beamport-cli: there is no cylinder " << id << " in " << store->Location().Describe().toStdString()
                  << " ('beamport-cli cylinders' lists them)" << std::endl;
        return kExitFile;
    }
    cylinder = *found;
    return 0;
}
