// A detector's own text reaches the terminal shown, never obeyed: identify
// prints it by the one escape rule; --json keeps the exact value.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cli_commands.h"
#include "support/test_session.h"

TEST(TerminalText, IdentifyShowsTheDetectorsSerialEscaped)
{
    const struct {
        const char *name;
        std::string serial; // the detector's bytes
        std::string shown;
    } rows[] = {
        {"ESC", "SH\x1B" "1", "SH\\x1B1"},
        {"CSI", "SH\x1B[2J", "SH\\x1B[2J"},
        {"BEL", "SH\x07" "1", "SH\\x071"},
        {"CR", "SH\r1", "SH\\r1"},
        {"U+202E as UTF-8", "SH\xE2\x80\xAE" "1", "SH\xE2\\x80\xAE" "1"},
    };
    const std::optional<CliEntry> identify = FindCliCommand("identify");
    ASSERT_TRUE(identify);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        for (const bool json : {false, true}) {
            TTestSession t;
            SimOptions options;
            options.serial = row.serial;
            t.StartSim(options);
            TCliScreen screen;
            CliContext context{screen, t.session, false, {}};
            if (json)
                context.args = {"--json"};
            testing::internal::CaptureStdout();
            const int code = RunCommand(*identify, context);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(code, 0);
            if (json) {
                const std::string doc = out.substr(out.find('{'));
                EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(doc))["mSerial"].toString(),
                          QString::fromLatin1(row.serial + std::string(10 - row.serial.size(), '0'))) // padded
                    << out;
                continue;
            }
            EXPECT_NE(out.find("\nSerial Number = " + row.shown), std::string::npos) << out;
            EXPECT_EQ(out.find_first_of("\x1B\x07\r"), std::string::npos) << out;
        }
    }
}
