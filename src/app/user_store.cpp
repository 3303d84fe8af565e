#include "app/user_store.h"

#include <QSettings>
#include <QString>

namespace {

// Value names are the user's texts (sensor names among them); "/" and "\"
// would open sub-groups in QSettings, so they are stored escaped.
QString Key(TStoreGroup group, const std::string &name)
{
    QString escaped;
    for (const QChar c : QString::fromStdString(name)) {
        if (c == QLatin1Char('%'))
            escaped += QStringLiteral("%25");
        else if (c == QLatin1Char('/'))
            escaped += QStringLiteral("%2F");
        else if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("%5C");
        else
            escaped += c;
    }
    return QString::fromLatin1(StoreGroupName(group)) + QLatin1Char('/') + escaped;
}

} // namespace

const char *StoreGroupName(TStoreGroup group)
{
    switch (group) {
    case TStoreGroup::EEPROM: return "EEPROM";
    case TStoreGroup::FLASH: return "FLASH";
    case TStoreGroup::EVENT: return "EVENT";
    case TStoreGroup::Logging: return "Logging";
    case TStoreGroup::CONFIGURE: return "CONFIGURE";
    case TStoreGroup::SENSORCAL: return "SENSORCAL";
    case TStoreGroup::WINDOW: return "WINDOW";
    case TStoreGroup::RECORDS: return "RECORDS";
    }
    return "";
}

std::string SimulatedStoreFile()
{
    const QSettings simulated(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("IR"),
                              QStringLiteral("Norvik-simulated"));
    return simulated.fileName().toStdString();
}

TUserStore::TUserStore()
    : FSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("IR"),
                                            QStringLiteral("Norvik")))
{
}

namespace {
// The store at `path`: a file in INI form, or on Windows a registry key
// ("\HKEY_CURRENT_USER\Software\...", as SimulatedStoreFile names it there).
std::unique_ptr<QSettings> StoreAt(const std::string &path)
{
    const QString name = QString::fromStdString(path);
    if (name.startsWith(QLatin1String("\\HKEY_")))
        return std::make_unique<QSettings>(name.mid(1), QSettings::NativeFormat);
    return std::make_unique<QSettings>(name, QSettings::IniFormat);
}
} // namespace

TUserStore::TUserStore(const std::string &filePath) : FSettings(StoreAt(filePath)) {}

TUserStore::~TUserStore() = default;

std::string TUserStore::ReadText(TStoreGroup group, const std::string &name) const
{
    if (name.empty())
        return {};
    return FSettings->value(Key(group, name)).toString().trimmed().toStdString();
}

void TUserStore::WriteText(TStoreGroup group, const std::string &name, const std::string &value)
{
    if (name.empty())
        return;
    FSettings->setValue(Key(group, name), QString::fromStdString(value));
    FSettings->sync();
}

std::optional<int> TUserStore::ReadInteger(TStoreGroup group, const std::string &name) const
{
    if (name.empty())
        return std::nullopt;
    const QVariant v = FSettings->value(Key(group, name));
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const int value = v.toString().trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

void TUserStore::WriteInteger(TStoreGroup group, const std::string &name, int value)
{
    if (name.empty())
        return;
    FSettings->setValue(Key(group, name), value);
    FSettings->sync();
}

bool TUserStore::Contains(TStoreGroup group, const std::string &name) const
{
    return !name.empty() && FSettings->contains(Key(group, name));
}

std::string TUserStore::SaveDirectory(TStoreGroup group) const { return ReadText(group, "SaveDirectory"); }

void TUserStore::SetSaveDirectory(TStoreGroup group, const std::string &dir)
{
    WriteText(group, "SaveDirectory", dir);
}

std::string TUserStore::ImageFile() const { return ReadText(TStoreGroup::FLASH, "ImageFile"); }

void TUserStore::SetImageFile(const std::string &path) { WriteText(TStoreGroup::FLASH, "ImageFile", path); }

std::optional<int> TUserStore::SpanGas(const std::string &sensorName) const
{
    return ReadInteger(TStoreGroup::SENSORCAL, sensorName);
}

void TUserStore::SetSpanGas(const std::string &sensorName, int tenths)
{
    WriteInteger(TStoreGroup::SENSORCAL, sensorName, tenths);
}

RWindowPlacement TUserStore::WindowPlacement(const RWindowPlacement &defaults) const
{
    RWindowPlacement p = defaults;
    p.mWidth = ReadInteger(TStoreGroup::WINDOW, "WIDTH").value_or(defaults.mWidth);
    p.mHeight = ReadInteger(TStoreGroup::WINDOW, "HEIGHT").value_or(defaults.mHeight);
    p.mLeft = ReadInteger(TStoreGroup::WINDOW, "LEFT").value_or(defaults.mLeft);
    p.mTop = ReadInteger(TStoreGroup::WINDOW, "TOP").value_or(defaults.mTop);
    return p;
}

void TUserStore::SetWindowPlacement(const RWindowPlacement &placement)
{
    FSettings->setValue(Key(TStoreGroup::WINDOW, "WIDTH"), placement.mWidth);
    FSettings->setValue(Key(TStoreGroup::WINDOW, "HEIGHT"), placement.mHeight);
    FSettings->setValue(Key(TStoreGroup::WINDOW, "LEFT"), placement.mLeft);
    FSettings->setValue(Key(TStoreGroup::WINDOW, "TOP"), placement.mTop);
    FSettings->sync();
}

std::string TUserStore::FileName() const { return FSettings->fileName().toStdString(); }
