#include "app/firmware_job.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>

#include "app/app_state.h"
#include "app/detector.h"
#include "app/journal.h"
#include "app/session.h"
#include "app/user_store.h"
#include "link/tamsel_comms.h"
#include "model/convert.h"
#include "model/datetime.h"

namespace {

std::string AbsolutePath(const std::string &fileName)
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : path.lexically_normal().string();
}

// The folder of a path with its trailing separator; empty without one.
std::string DirectoryOf(const std::string &path)
{
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\"); // either separator ends a folder
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void DropPort(TComTamsel &link)
{
    try {
        link.ComClose();
    } catch (...) {
    }
}

ROpResult StatusResult(uint8_t status)
{
    ROpResult r;
    r.mStatus = status;
    return r;
}

} // namespace

// ---------------------------------------------------------------- one attempt

TImageDownload::TImageDownload(TSession &session, IScreen &screen, const TImagePackets &image, const bool &goOn)
    : FSession(session), FLink(session.Link()), FScreen(screen), FImage(image), FGoOn(goOn)
{
}

TImageDownload::~TImageDownload()
{
    if (FOpened && !FEnded && !FAborted)
        DropPort(FLink);
}

void TImageDownload::Fail(const std::string &text)
{
    // The detector's state is unknown after a port error: no end-of-connection.
    DropPort(FLink);
    FAborted = true;
    FError = text;
    FStatus = kStatusAborted;
    ShowError(FScreen, text);
}

void TImageDownload::Abort(const std::string &text)
{
    if (!FEnded && !FAborted)
        Fail(text);
}

bool TImageDownload::Begin()
{
    if (FOpened || FEnded || FAborted)
        return false;
    // Cancelled before it began: the detector is not even told to start.
    if (!FGoOn) {
        FStatus = kStatusUserStop;
        return false;
    }
    if (!ImageShapeOk(FImage)) {
        FStatus = kStatusImageSize;
        return false;
    }
    try {
        FOpened = true; // whatever OpenUSB returns, CloseUSB follows
        FStatus = FLink.OpenUSB(static_cast<float>(FSession.DeviceCFG.mConnectTime) / 1000.0f);
        if (FStatus == 0)
            FStatus = FLink.UpgradeStart();
    } catch (const std::exception &e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unknown error");
    }
    return FStatus == 0 && !FAborted;
}

bool TImageDownload::Pass()
{
    if (!FOpened || FEnded || FAborted || FStatus != 0 || FNext >= Count())
        return false;
    if (!FGoOn) {
        FStatus = kStatusUserStop;
        return false;
    }
    const std::vector<uint8_t> &packet = FImage[static_cast<size_t>(FNext)];
    RComTamselReadBuf buf;
    buf.mData = static_cast<int32_t>(packet.size());
    std::memcpy(buf.mBuf, packet.data(), packet.size());

    auto line = [this](const char *text) {
        FScreen.AppendTraffic(FormatTimeStamp(Now()) + text + std::to_string(FNext));
    };
    uint8_t status;
    try {
        status = FLink.UpgradeData(1, buf);
        for (int repeat = 0; repeat < FSession.DeviceCFG.mFLASHRetry && status != 0; ++repeat) {
            line(" [SEND] Retry ");
            status = FLink.UpgradeData(3, buf);
        }
        if (status == 0)
            line(" [SEND] OK ");
    } catch (const std::exception &e) {
        Fail(e.what());
        return false;
    } catch (...) {
        Fail("Unknown error");
        return false;
    }
    FStatus = status;
    if (!FGoOn)
        FStatus = kStatusUserStop;
    ++FNext;
    return true;
}

ROpResult TImageDownload::Result() const
{
    ROpResult r;
    r.mStatus = FStatus;
    r.mAborted = FAborted;
    r.mError = FError;
    return r;
}

ROpResult TImageDownload::End()
{
    if (FEnded || FAborted) {
        FEnded = true;
        return Result();
    }
    FEnded = true;
    // An attempt that was not driven to its last packet must never execute.
    if (FStatus == 0 && (!FOpened || FNext < Count()))
        FStatus = kStatusUserStop;
    if (!FOpened)
        return Result();
    try {
        if (FStatus == 0 && FLink.UpgradeExecute() != 0)
            FStatus = kStatusExecuteFailed;
        FLink.CloseUSB(FStatus);
    } catch (const std::exception &e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unknown error");
    }
    return Result();
}

// ---------------------------------------------------------------- the panels' actions

// Holds the upgrade's running state: buttons disabled and FGoOn set for
// its lifetime, everything usable again when it ends, however it ends.
class TFirmwareUpgrade::TRunGuard {
public:
    explicit TRunGuard(TFirmwareUpgrade &owner) : FOwner(owner)
    {
        FOwner.FRunning = true;
        RFirmwarePanel &p = FOwner.FPanel;
        p.mRunning = true;
        p.mOpenEnabled = false;
        p.mUpgradeEnabled = false;
        p.mCancelEnabled = false;
        *FOwner.FGoOn = true;
        try {
            FOwner.Changed();
        } catch (...) {
            Restore();
            throw;
        }
    }
    ~TRunGuard()
    {
        Restore();
        try {
            FOwner.Changed();
        } catch (...) {
        }
    }
    TRunGuard(const TRunGuard &) = delete;
    TRunGuard &operator=(const TRunGuard &) = delete;

private:
    void Restore()
    {
        RFirmwarePanel &p = FOwner.FPanel;
        p.mRunning = false;
        p.mOpenEnabled = true;
        p.mUpgradeEnabled = FOwner.FImageLoaded;
        p.mCancelEnabled = false;
        *FOwner.FGoOn = false;
        FOwner.FRunning = false;
    }

    TFirmwareUpgrade &FOwner;
};

TFirmwareUpgrade::TFirmwareUpgrade(TSession &session, IScreen &screen) : FSession(session), FScreen(screen) {}

TFirmwareUpgrade::TFirmwareUpgrade(TSession &session, IScreen &screen, RMainState &state)
    : FSession(session), FScreen(screen), FHibernateConfirmed(&state.FHibernateConfirmed), FGoOn(&state.FUpgrade)
{
}

TFirmwareUpgrade::~TFirmwareUpgrade() = default;

void TFirmwareUpgrade::Changed()
{
    if (OnPanelChanged)
        OnPanelChanged(FPanel);
}

void TFirmwareUpgrade::SetProgress(int position, int max)
{
    FPanel.mProgress = position;
    FPanel.mProgressMax = max;
    FScreen.Progress(kFirmwareProgress, position, max);
    Changed();
}

uint8_t TFirmwareUpgrade::LoadUpgradeFile(const std::string &fileName, bool bQuiet)
{
    // The image being sent is never replaced under a running download.
    if (FRunning)
        return kStatusImageOpen;
    RDeviceCFG &settings = FSession.DeviceCFG;
    const std::string file = fileName; // may be settings.mFLASHFile itself
    if (!bQuiet)
        ShowStatus(FScreen, kBusyBackground, kBusyText, "Loading Upgrade File...");

    TImagePackets packets;
    const uint8_t status = ReadUpgradeImage(file, settings.mFLASHMaxAddress, settings.mFALSHPacketSize,
                                            FSession.UserMode, packets);
    if (status == 0) {
        RImageHeader header;
        ImageHeaderOf(packets, header);
        FImage = std::move(packets);
        FImageLoaded = true;
        const std::string path = AbsolutePath(file);
        settings.mFLASHFile = path;
        FSession.Store().SetImageFile(path);
        settings.mFLASHSaveDir = DirectoryOf(path);
        FPanel.mFileText = path;
        FPanel.mDescText = kFirmwareVersionText + FWVersionToStr(header.mSW);
        FPanel.mUpgradeEnabled = true;
    } else {
        // Nothing of a refused file is kept; the remembered path stays.
        FImage.clear();
        FImageLoaded = false;
        FPanel.mFileText.clear();
        FPanel.mDescText = kFirmwareNoImageText;
        FPanel.mUpgradeEnabled = false;
    }
    Changed();
    if (!bQuiet)
        ShowResult(FScreen, status, "Loading Upgrade File");
    return status;
}

bool TFirmwareUpgrade::LoadRememberedImage()
{
    if (FRunning)
        return false;
    const std::string file = FSession.DeviceCFG.mFLASHFile;
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec))
        return false;
    return LoadUpgradeFile(file, true) == 0;
}

std::optional<uint8_t> TFirmwareUpgrade::OpenUpgradeFile()
{
    if (FRunning)
        return std::nullopt;
    FileChoice choice;
    choice.title = "Select Firmware Upgrade File";
    choice.filter = "Image File (*.img)";
    choice.defaultExt = "img";
    choice.initialDir = FSession.DeviceCFG.mFLASHSaveDir;
    const std::optional<std::string> file = FScreen.ChooseOpenFile(choice);
    if (!file || file->empty())
        return std::nullopt;
    return LoadUpgradeFile(*file, false);
}

void TFirmwareUpgrade::Cancel() { *FGoOn = false; }

ROpResult TFirmwareUpgrade::CheckTarget(TDeviceJob &job, const RImageHeader &header)
{
    ShowStatus(FScreen, kBusyBackground, kBusyText, "Check Program...");
    RTamselIdenty identity{};
    ROpResult result = job.Linked("Check Program", [&] { return TDetector(FSession).Connect(identity); });
    if (result.mAborted)
        return result;

    uint8_t status = result.mStatus;
    if (status == 0 && (header.mMinSW > identity.mSW || header.mMinHW > identity.mHW)) {
        status = kStatusImageTooNew;
    } else if (status == 0 && (header.mSW < identity.mSW || header.mHW < identity.mHW)) {
        if (!FScreen.AskYesNo("File Version Check", "This file is not old version\rExecute upgrade?"))
            status = kStatusImageOlder;
    }
    result.mStatus = status;
    ShowResult(FScreen, status, "Check Program");
    return result;
}

ROpResult TFirmwareUpgrade::DownloadImage(const TImagePackets &image)
{
    ShowStatus(FScreen, kBusyBackground, kBusyText, "Download Image...");
    TImageDownload download(FSession, FScreen, image, *FGoOn);
    if (download.Begin()) {
        try {
            while (download.Pass()) {
                SetProgress(download.Position(), download.Count());
                FScreen.ProcessMessages();
            }
        } catch (const std::exception &e) {
            download.Abort(e.what());
        } catch (...) {
            download.Abort("Unknown error");
        }
    }
    const ROpResult result = download.End();
    if (!result.mAborted && result.mStatus != 0 && result.mStatus != kStatusUserStop)
        ShowStatus(FScreen, kFailBackground, kFailText, "Download Image...Fail");
    return result;
}

ROpResult TFirmwareUpgrade::Upgrade()
{
    if (FRunning) {
        ROpResult busy;
        busy.mStatus = kStatusAborted;
        busy.mAborted = true;
        busy.mError = "A firmware upgrade is running";
        return busy;
    }
    if (!FImageLoaded || !ImageShapeOk(FImage))
        return StatusResult(kStatusImageOpen);

    // The image sent is this copy: nothing done while the window processes
    // its messages can change it under the download.
    const TImagePackets image = FImage;
    RImageHeader header;
    ImageHeaderOf(image, header);
    const int packets = static_cast<int>(image.size());

    if (FHibernateConfirmed)
        *FHibernateConfirmed = false;
    const TRunGuard guard(*this);
    TDeviceJob job(FSession, FScreen, kJobUpgrade);
    int attemptsMade = 0;
    // On the record at every way out: the firmware before (as the detector
    // told it) and the image's, its CRC, the attempts and the outcome.
    const auto record = [&](const ROpResult &r, const std::string &prefix) {
        QJsonObject data{{QStringLiteral("firmware_to"), QString::fromStdString(FWVersionToStr(header.mSW))},
                         {QStringLiteral("image_crc"), QStringLiteral("%1").arg(uint16_t(header.mCRC), 4, 16, QLatin1Char('0')).toUpper()},
                         {QStringLiteral("attempts"), attemptsMade}};
        if (const std::optional<RTamselIdenty> &id = FSession.Link().Seen().mIdentity)
            data.insert(QStringLiteral("firmware_from"), QString::fromStdString(FWVersionToStr(id->mSW)));
        const char *outcome = r.mAborted ? "aborted"
                              : r.mStatus == 0 ? "upgraded"
                              : r.mStatus == kStatusUserStop ? "stopped"
                              : attemptsMade == 0 ? "refused" : "failed";
        data.insert(QStringLiteral("outcome"), QString::fromLatin1(outcome));
        job.Finish(r, prefix, data);
    };

    const ROpResult check = CheckTarget(job, header);
    if (check.mAborted || check.mStatus != 0) {
        record(check, "Check Program");
        return check;
    }

    FPanel.mCancelEnabled = true;
    FPanel.mUpgradeEnabled = false;
    SetProgress(0, packets);

    ROpResult last;
    const int attempts = std::max<int>(1, FSession.DeviceCFG.mFLASHDownloadRetry);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0)
            SetProgress(0, packets);
        ++attemptsMade;
        last = DownloadImage(image);
        if (last.mAborted) {
            record(last, "Download Image");
            return last; // the error box has been shown
        }
        if (last.mStatus == 0 || last.mStatus == kStatusUserStop)
            break;
    }
    ShowResult(FScreen, last.mStatus, "Download Image");
    record(last, "Download Image");
    return last;
}
