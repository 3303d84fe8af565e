// The one rule for a detector's or a person's text on a terminal, a window
// or a page: nothing in it acts, everything in it is shown.
#include <gtest/gtest.h>

#include <cstring>

#include "model/device_records.h"
#include "model/visible_text.h"

TEST(VisibleText, NothingActsEverythingIsShown)
{
    const struct {
        const char *name;
        std::string utf8;  // as a person typed it
        std::string shown; // on a terminal
    } rows[] = {
        {"plain", "LOT-4711", "LOT-4711"},
        {"ESC", "A\x1B" "B", "A\\x1BB"},
        {"CSI clear screen", "A\x1B[2J", "A\\x1B[2J"},
        {"C1 CSI", "A\xC2\x9B" "2J", "A\\x9B2J"},
        {"OSC title", "\x1B]0;x\x07", "\\x1B]0;x\\x07"},
        {"BEL", "A\x07", "A\\x07"},
        {"CR", "A\rB", "A\\rB"},
        {"LF, tab, DEL", "A\nB\tC\x7F", "A\\nB\\tC\\x7F"},
        {"right-to-left override", "A\xE2\x80\xAE" "B", "A\\u202EB"},
        {"isolate", "\xE2\x81\xA6x", "\\u2066x"},
        {"line separator", "A\xE2\x80\xA8" "B", "A\\u2028B"},
        {"paragraph separator", "A\xE2\x80\xA9", "A\\u2029"},
        {"zero-width space, byte order mark", "\xE2\x80\x8B\xEF\xBB\xBF", "\\u200B\\uFEFF"},
        {"backslash", "A\\x1B", "A\\\\x1B"},
        {"letters and an emoji as they are", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(VisibleUtf8(row.utf8), row.shown) << row.name;
        EXPECT_EQ(VisibleText(QString::fromStdString(row.utf8)).toStdString(), row.shown) << row.name;
    }
    EXPECT_EQ(VisibleText(QStringLiteral("a") + QChar(0xD800)).toStdString(), "a\\uD800") << "a lone surrogate";

    // A detector's bytes, one byte a character: controls written out, other
    // bytes left as the bytes they are; so the UTF-8 of an override is broken
    // up on a terminal that reads UTF-8.
    const struct {
        std::string bytes, shown;
    } latin1[] = {
        {"SH\x1B[2J", "SH\\x1B[2J"}, {"SH\x07\r", "SH\\x07\\r"}, {"SH\x9B", "SH\\x9B"},
        {"SH\xE2\x80\xAE", "SH\xE2\\x80\xAE"}, {"SH\xE9", "SH\xE9"},
    };
    for (const auto &row : latin1)
        EXPECT_EQ(VisibleLatin1(row.bytes), row.shown) << row.shown;

    RTamselIdenty id{};
    std::memcpy(id.mSerial, "SH\x1B[2J\x07\r\xE2\x80", 10);
    EXPECT_EQ(IdentyLines(id).back(), "Serial Number = SH\\x1B[2J\\x07\\r\xE2\\x80");
}
