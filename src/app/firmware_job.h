#pragma once
// The firmware panels' job: loading and remembering an image, the checks
// against the connected detector, and the download: UpgradeStart, the
// packets in order (each repeated with pointer 3 when it fails) and
// UpgradeExecute, the whole repeated a configured number of times.
//
// A failed upgrade can leave a detector without working firmware, so this
// code is strict: nothing the window does while the download pumps its
// messages can change the image being sent, and the running flags and
// buttons are restored on every way out, exceptions included.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/screen.h"
#include "app/device_job.h"
#include "files/firmware.h"

class TComTamsel;
class TSession;
struct RMainState;

// ---- what the two firmware panels show ----

inline constexpr const char *kFirmwareNoImageText = "Norvik Firmware Upgrade ... Select File";
inline constexpr const char *kFirmwareVersionText = "Norvik Firmware Upgrade ... Firmware Version ";
// The `which` of IScreen::Progress for the download's progress bars.
inline constexpr const char *kFirmwareProgress = "packet";

// What the firmware panel of either layout shows: the window binds both to it.
struct RFirmwarePanel {
    std::string mFileText = {};                   // the path of the loaded image
    std::string mDescText = kFirmwareNoImageText; // what the image is
    bool mOpenEnabled = true;                     // a file may be opened
    bool mUpgradeEnabled = false;                 // "Upgrade Firmware" may start
    bool mCancelEnabled = false;                  // "Cancel" may stop it
    int mProgress = 0;                            // the download's packets sent
    int mProgressMax = 0;                         // its maximum
    // A download runs, from its check of the detector to its end: nothing
    // else may open the link until then.
    bool mRunning = false;
    bool operator==(const RFirmwarePanel &) const = default;
};

// ---- one download attempt, pass by pass ----

// The caller drives it: Begin, then Pass until it returns false (letting the
// window process its messages after each), then End. Cancel is the state's
// FUpgrade going false: it is looked at before each packet, so no packet is
// sent after it, and after each packet (the packet's status is replaced by
// 134). A serial port error ends the attempt: the port is closed without an
// end-of-connection request, the error box is shown and End reports it aborted.
class TImageDownload {
public:
    // `image` and `goOn` must outlive the attempt.
    TImageDownload(TSession &session, IScreen &screen, const TImagePackets &image, const bool &goOn);

    // Status := OpenUSB; if 0, UpgradeStart. True when packets are to be sent.
    bool Begin();
    // Packet Position(): pointer 1, then up to mFLASHRetry repeats with pointer
    // 3 while it fails, each reported as " [SEND] Retry i" in the traffic list,
    // a success as " [SEND] OK i". True when a packet was handled.
    bool Pass();
    // UpgradeExecute when every packet went (non-zero gives 135), then
    // CloseUSB with the status. An attempt ended before its last packet was
    // handled never executes: it reports 134. Later calls repeat the result.
    ROpResult End();
    // Ends the attempt for an error raised outside the link (the port is
    // dropped, the error box shown); End then reports it aborted.
    void Abort(const std::string &text);

    uint8_t Status() const { return FStatus; }
    bool Aborted() const { return FAborted; }
    int Position() const { return FNext; } // packets handled so far
    int Count() const { return static_cast<int>(FImage.size()); }

    // An attempt left without End (an exception passing through the caller)
    // drops the port.
    ~TImageDownload();
    TImageDownload(const TImageDownload &) = delete;
    TImageDownload &operator=(const TImageDownload &) = delete;

private:
    void Fail(const std::string &text);
    ROpResult Result() const;

    TSession &FSession;
    TComTamsel &FLink;
    IScreen &FScreen;
    const TImagePackets &FImage;
    const bool &FGoOn;
    uint8_t FStatus = 0;
    bool FOpened = false;
    bool FAborted = false;
    bool FEnded = false;
    std::string FError;
    int FNext = 0;
};

// ---- the firmware panels' actions ----

class TFirmwareUpgrade {
public:
    TFirmwareUpgrade(TSession &session, IScreen &screen);
    // The window's: an upgrade forgets its confirmed hibernation
    // (FHibernateConfirmed), and FUpgrade tells the window a download goes on.
    TFirmwareUpgrade(TSession &session, IScreen &screen, RMainState &state);
    ~TFirmwareUpgrade();
    TFirmwareUpgrade(const TFirmwareUpgrade &) = delete;
    TFirmwareUpgrade &operator=(const TFirmwareUpgrade &) = delete;

    // What both panels show now; OnPanelChanged is called after every change
    // (loads, the start and end of an upgrade, every packet's progress).
    const RFirmwarePanel &Panel() const { return FPanel; }
    std::function<void(const RFirmwarePanel &)> OnPanelChanged;

    // Loads and checks an image to send. Unless bQuiet,
    // "Loading Upgrade File..." before and the result after. On 0 the path is
    // remembered (DeviceCFG.mFLASHFile, mFLASHSaveDir, the store's FLASH
    // "ImageFile") and the upgrade enabled; on a failure the image is dropped
    // and the upgrade disabled, the remembered path stays. Refused with 128,
    // nothing changed or shown, while an upgrade runs.
    uint8_t LoadUpgradeFile(const std::string &fileName, bool bQuiet);
    // The first activation: the quiet load of DeviceCFG.mFLASHFile when that
    // file exists. True when an image was loaded.
    bool LoadRememberedImage();
    // The open button: offers the file dialog in mFLASHSaveDir and loads the
    // file chosen; nullopt when the dialog was cancelled (or an upgrade runs).
    std::optional<uint8_t> OpenUpgradeFile();

    // The upgrade button: check the detector, then up to mFLASHDownloadRetry
    // download attempts (at least one). Blocks, letting the screen process its
    // messages after every packet. Returns the status reported last (the
    // check's when it failed); aborted after a serial port error. Without a
    // loaded image, or while an upgrade runs, nothing is done (128, resp.
    // aborted with no box).
    ROpResult Upgrade();
    // The cancel button: the download stops after the
    // packet under way.
    void Cancel();

    // An upgrade is under way, from its first step until its buttons are
    // enabled again, including the rest of the packet after a Cancel. Closing
    // the window must wait for it.
    bool Running() const { return FRunning; }
    bool ImageLoaded() const { return FImageLoaded; }
    // The image loaded (packets x bytes), and whether a download goes on
    // (Cancel and the upgrade's end clear it).
    const TImagePackets &Image() const { return FImage; }
    bool GoingOn() const { return *FGoOn; }

    // One download attempt over `image` (the download must be going on, else it stops
    // at once with 134). Shows "Download Image...Fail" for a failure other
    // than 134; reports nothing else.
    ROpResult DownloadImage(const TImagePackets &image);

private:
    class TRunGuard;
    friend class TRunGuard;

    // The upgrade's first frame, the detector check: identity, product,
    // versions (133 without a question; an older image asks, and any answer
    // but Yes gives 132). Reports "Check Program".
    ROpResult CheckTarget(TDeviceJob &job, const RImageHeader &header);
    void Changed();
    void SetProgress(int position, int max);

    TSession &FSession;
    IScreen &FScreen;
    bool *FHibernateConfirmed = nullptr;
    TImagePackets FImage; // the image loaded: packets x bytes
    bool FOwnGoOn = false;
    bool *FGoOn = &FOwnGoOn; // the download goes on; Cancel clears it (the window's: its FUpgrade)
    RFirmwarePanel FPanel;
    bool FImageLoaded = false;
    bool FRunning = false;
};
