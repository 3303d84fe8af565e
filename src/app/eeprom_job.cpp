#include "app/eeprom_job.h"

#include <algorithm>

#include "app/journal.h"
#include "app/screen.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "link/tamsel_comms.h"
#include "model/settings_types.h"

ROpResult EEPROMReadAction(IScreen &screen, TComTamsel &link, REEPROMGrid &grid)
{
    const uint16_t start = DeviceCFG.mEEPROMReadAddress;
    const uint16_t max = DeviceCFG.mEEPROMMaxAddress;
    TJobJournal journal(link, kJobEeprom);
    RComTamselReadBuf buf;
    const ROpResult op = RunOperation(screen, link, kEEPROMReadPrefix, [&]() -> uint8_t {
        const uint8_t status = link.ReadEEPROMData(buf, DeviceCFG.mEEPROMPacketSize, start, max);
        if (status == 0)
            FillEEPROMGrid(grid, buf, start, max);
        return status;
    });
    QJsonObject data{{QStringLiteral("start"), start}};
    if (op.Ok()) {
        const int32_t bytes = std::clamp<int32_t>(buf.mData, 0, kReadBufCapacity);
        data.insert(QStringLiteral("bytes"), QString::fromStdString(HexText(buf.mBuf, static_cast<size_t>(bytes))));
    }
    journal.FinishOp(screen, op, kEEPROMReadPrefix, data);
    return op;
}

EFileOutcome EEPROMSaveAction(IScreen &screen, const REEPROMGrid &grid, std::string *chosenPath)
{
    FileChoice choice;
    choice.title = kEEPROMSaveTitle;
    choice.filter = kEEPROMFilter;
    choice.defaultExt = kEEPROMDefaultExt;
    choice.initialDir = DeviceCFG.mEEPROMSaveDir;
    choice.fileName = EEPROMFileName(Now());
    const std::optional<std::string> path = screen.ChooseSaveFile(choice);
    if (!path)
        return EFileOutcome::Cancelled;
    if (chosenPath)
        *chosenPath = *path;

    const bool saved = SaveEEPROMDump(*path, grid);
    if (!saved)
        screen.Message(kEEPROMSaveCaption, kEEPROMNotSavedText, MsgIcon::Error);
    std::string folder = FolderOfFile(*path);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    DeviceCFG.mEEPROMSaveDir = folder;
    UserStore().SetSaveDirectory(TStoreGroup::EEPROM, folder);
    return saved ? EFileOutcome::Done : EFileOutcome::Failed;
}
