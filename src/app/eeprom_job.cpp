#include "app/eeprom_job.h"

#include <algorithm>

#include "app/journal.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/user_store.h"
#include "files/file_names.h"
#include "link/tamsel_comms.h"

ROpResult EEPROMReadAction(TSession &session, IScreen &screen, REEPROMGrid &grid)
{
    const RDeviceCFG &settings = session.DeviceCFG;
    const uint16_t start = settings.mEEPROMReadAddress;
    const uint16_t max = settings.mEEPROMMaxAddress;
    const uint16_t packet = settings.mEEPROMPacketSize;
    TComTamsel &link = session.Link();
    TDeviceJob job(session, screen, kJobEeprom);
    RComTamselReadBuf buf;
    const ROpResult op = job.Run(kEEPROMReadPrefix, [&]() -> uint8_t {
        const uint8_t status = link.ReadEEPROMData(buf, packet, start, max);
        if (status == 0)
            FillEEPROMGrid(grid, buf, start, max);
        return status;
    });
    QJsonObject data{{QStringLiteral("start"), start}};
    if (op.Ok()) {
        const int32_t bytes = std::clamp<int32_t>(buf.mData, 0, kReadBufCapacity);
        data.insert(QStringLiteral("bytes"), QString::fromStdString(HexText(buf.mBuf, static_cast<size_t>(bytes))));
    }
    job.Finish(data);
    return op;
}

EFileOutcome EEPROMSaveAction(TSession &session, IScreen &screen, const REEPROMGrid &grid, std::string *chosenPath)
{
    FileChoice choice;
    choice.title = kEEPROMSaveTitle;
    choice.filter = kEEPROMFilter;
    choice.defaultExt = kEEPROMDefaultExt;
    choice.initialDir = session.DeviceCFG.mEEPROMSaveDir;
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
    session.DeviceCFG.mEEPROMSaveDir = folder;
    session.Store().SetSaveDirectory(TStoreGroup::EEPROM, folder);
    return saved ? EFileOutcome::Done : EFileOutcome::Failed;
}
