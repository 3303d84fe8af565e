// The record as JSON: character fields are one character per byte (Latin-1),
// up to the first zero byte, whatever the bytes are.
#include <gtest/gtest.h>

#include <cstring>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/config_json.h"

TEST(ConfigJsonTest, CharacterFieldsAreOneCharacterPerByte)
{
    const struct {
        const char *name;
        std::string serial; // 10 bytes
        std::string userId; // 6 bytes
        QString serialText, userIdText;
    } rows[] = {
        {"byte FF first", std::string("\xFFSH1234567", 10), "AB12  ", QString(QChar(0xFF)) + "SH1234567", "AB12  "},
        {"Latin-1 letters", std::string("\xC4\xD6\xDC" "1234567", 10), std::string("\xE9t\xE9\x80\x01 ", 6),
         QString(QChar(0xC4)) + QChar(0xD6) + QChar(0xDC) + "1234567",
         QString(QChar(0xE9)) + "t" + QChar(0xE9) + QChar(0x80) + QChar(0x01) + " "},
        {"ends at a zero byte", std::string("SH1\0\xFF\xFF\xFF\xFF\xFF\xFF", 10), std::string("\0ABCDE", 6), "SH1", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        RTamselCFG cfg = DefaultCFG();
        std::memcpy(cfg.mUnit.mSerial, r.serial.data(), 10);
        std::memcpy(cfg.mUnit.mUserID, r.userId.data(), 6);

        const QJsonObject unit = ConfigToJsonObject(cfg)["mUnit"].toObject();
        EXPECT_EQ(unit["mSerial"].toString(), r.serialText);
        EXPECT_EQ(unit["mUserID"].toString(), r.userIdText);

        // The text output carries the same characters (UTF-8 encoded).
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(ConfigToJson(cfg)), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(doc.object()["mUnit"].toObject()["mSerial"].toString(), r.serialText);
        EXPECT_EQ(doc.object()["mUnit"].toObject()["mUserID"].toString(), r.userIdText);
    }
    // Byte FF is U+00FF: two bytes C3 BF in the UTF-8 text.
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, "\xFFSH1234567", 10);
    EXPECT_NE(ConfigToJson(cfg).find("\"mSerial\": \"\xC3\xBFSH1234567\""), std::string::npos);
}
