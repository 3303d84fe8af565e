// Where the bench key lives on Windows when nothing names it: the user's
// roaming profile (%APPDATA%), as the other per-user settings programs keep.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <QDir>

#include "records/bench_key.h"

TEST(WindowsKeys, TheBenchKeyLivesInTheRoamingProfile)
{
    std::optional<std::string> old;
    if (const char *value = std::getenv("APPDATA"))
        old = value;
    const QString home = QDir::homePath();
    const struct {
        const char *appdata;
        QString expected;
    } cases[] = {
        {"C:\\Users\\tech\\AppData\\Roaming", QStringLiteral("C:/Users/tech/AppData/Roaming/beamport/bench.key")},
        {"", home + QStringLiteral("/AppData/Roaming/beamport/bench.key")},
        {"relative", home + QStringLiteral("/AppData/Roaming/beamport/bench.key")},
    };
    for (const auto &c : cases) {
        _putenv_s("APPDATA", c.appdata);
        EXPECT_EQ(DefaultBenchKeyPath(), c.expected) << c.appdata;
    }
    _putenv_s("APPDATA", old ? old->c_str() : "");
}
