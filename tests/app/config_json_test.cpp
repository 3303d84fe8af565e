// The record as JSON: character fields are one character per byte (Latin-1),
// up to the first zero byte, whatever the bytes are.
#include <gtest/gtest.h>

#include <cstring>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/config_json.h"

TEST(ConfigJsonTest, CharacterFieldsAreOneCharacterPerByte)
{
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, "\xFFSH1234567", 10);
    std::memcpy(cfg.mUnit.mUserID, "\xE9t\0\xFF\xFF\xFF", 6);

    const QJsonObject unit = ConfigToJsonObject(cfg)["mUnit"].toObject();
    EXPECT_EQ(unit["mSerial"].toString(), QString(QChar(0xFF)) + QStringLiteral("SH1234567"));
    EXPECT_EQ(unit["mUserID"].toString(), QString(QChar(0xE9)) + QStringLiteral("t"));
    // In the text, U+00FF is the two UTF-8 bytes C3 BF.
    const std::string text = ConfigToJson(cfg);
    EXPECT_NE(text.find("\"mSerial\": \"\xC3\xBFSH1234567\""), std::string::npos) << text;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(text)).object()["mUnit"].toObject(), unit);
}
