#pragma once
// The main window's test fixture: a temporary folder as the current folder,
// the run-time folder and the per-user store; the window made as the program
// makes it, with its dialogs scripted (messages and questions recorded, file
// dialogs answered from a queue) and the maker's links caught.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDir>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "app/screen.h"
#include "app/user_store.h"
#include "model/crc16.h"
#include "model/settings_types.h"
#include "sim/sim_detector.h"
#include "support/test_session.h"
#include "ui/main_window.h"
#include "ui/qt_screen.h"
#include "ui/ui_app.h"

struct RShownMessage {
    std::string mCaption;
    std::string mText;
    MsgIcon mIcon;
};

class MainWindowTest : public ::testing::Test, protected TTestSession {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(FDir.isValid());
        FOldCwd = QDir::currentPath();
        QDir::setCurrent(FDir.path());
        const char *tmp = std::getenv("TMPDIR");
        FOldTmp = tmp ? std::optional<std::string>(tmp) : std::nullopt;
        setenv("TMPDIR", FDir.path().toLocal8Bit().constData(), 1);
        // The test's own folder (0700) is the session's run-time folder.
        const char *run = std::getenv("XDG_RUNTIME_DIR");
        FOldRun = run ? std::optional<std::string>(run) : std::nullopt;
        setenv("XDG_RUNTIME_DIR", FDir.path().toLocal8Bit().constData(), 1);
        session.UseStoreFile(Path("store.ini"));
    }

    void TearDown() override
    {
        FWindow.reset();
        QDir::setCurrent(FOldCwd);
        if (FOldTmp)
            setenv("TMPDIR", FOldTmp->c_str(), 1);
        else
            unsetenv("TMPDIR");
        if (FOldRun)
            setenv("XDG_RUNTIME_DIR", FOldRun->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }

    std::string Path(const char *name) const { return FDir.filePath(QString::fromLatin1(name)).toStdString(); }

    void WriteIni(const std::string &text)
    {
        std::ofstream(Path("OPTAVO.INI")) << text;
    }

    // The window as the program makes it on the session: settings from
    // OPTAVO.INI in the current folder, the dialogs scripted, shown (first activation).
    TNorvikIRMainForm &Open(bool show = true)
    {
        FWindow = std::make_unique<TNorvikIRMainForm>(session);
        TQtScreen &screen = FWindow->Screen();
        screen.FOnMessage = [this](const std::string &caption, const std::string &text, MsgIcon icon) {
            FMessages.push_back({caption, text, icon});
        };
        screen.FOnAskYesNo = [this](const std::string &, const std::string &) {
            ++FQuestions;
            return false;
        };
        screen.FOnChooseFile = [this](bool, const FileChoice &choice) {
            FChoices.push_back(choice);
            std::optional<std::string> answer;
            if (!FFiles.empty()) {
                answer = FFiles.front();
                FFiles.pop_front();
            }
            return answer;
        };
        FWindow->FOpenUrl = [this](const QUrl &url) { FOpened.push_back(url.toString().toStdString()); };
        if (show) {
            FWindow->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(FWindow.get()));
        }
        return *FWindow;
    }

    template <class T> T *W(const char *name) const
    {
        T *w = FWindow->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    void Click(const char *name)
    {
        QPushButton *b = W<QPushButton>(name);
        ASSERT_NE(b, nullptr);
        if (b->isVisible())
            QTest::mouseClick(b, Qt::LeftButton);
        else
            b->click(); // on a page that is not showing

    }

    // A valid image for the simulated detector, of the same versions (no question).
    void WriteImage(SimDetector &sim, const char *name) const
    {
        const int packets = session.DeviceCFG.mFLASHMaxAddress, size = session.DeviceCFG.mFALSHPacketSize;
        std::vector<uint8_t> image(static_cast<size_t>(packets * size), 0x5A);
        image[2] = 2; // product
        image[3] = sim.Identity().mSW;
        image[4] = sim.Identity().mHW;
        image[5] = image[6] = 0;
        const uint16_t crc = CRC16(image.data() + 2, static_cast<int>(image.size()) - 2);
        image[0] = static_cast<uint8_t>(crc & 0xFF);
        image[1] = static_cast<uint8_t>(crc >> 8);
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char *>(image.data()),
                                                          static_cast<std::streamsize>(image.size()));
    }

    QString StatusText() const { return FWindow->findChild<QLabel *>(QStringLiteral("StatusLabel"))->text(); }
    QColor StatusColor(QPalette::ColorRole role) const
    {
        return FWindow->findChild<QLabel *>(QStringLiteral("StatusLabel"))->palette().color(role);
    }

    QTemporaryDir FDir;
    QString FOldCwd;
    std::optional<std::string> FOldTmp;
    std::optional<std::string> FOldRun;
    std::unique_ptr<TNorvikIRMainForm> FWindow;
    std::vector<RShownMessage> FMessages;
    int FQuestions = 0;
    std::vector<FileChoice> FChoices;
    std::deque<std::string> FFiles;
    std::vector<std::string> FOpened;
};

const char *const kDeveloperIni = "[Environment]\nModeEntry=QWZ_ENG__\n";
