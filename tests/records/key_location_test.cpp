// Where the bench key lives when nothing names it: the user's own folder of
// settings, never a folder a relative or empty variable would make of the
// current one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <QDir>

#include "records/bench_key.h"

namespace {

// Sets or clears one environment variable for the test, restoring it after.
class TEnvVar {
public:
    TEnvVar(const char *name, const char *value) : FName(name)
    {
        if (const char *old = std::getenv(name))
            FOld = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TEnvVar()
    {
        if (FOld)
            setenv(FName, FOld->c_str(), 1);
        else
            unsetenv(FName);
    }

private:
    const char *FName;
    std::optional<std::string> FOld;
};

} // namespace

TEST(BenchKeyLocation, TheUsersConfigFolderOrHomesOwn)
{
    const QString home = QDir::homePath();
    const struct {
        const char *xdg;
        QString expected;
    } cases[] = {
        {"/srv/bench/config", QStringLiteral("/srv/bench/config/beamport/bench.key")},
        {nullptr, home + QStringLiteral("/.config/beamport/bench.key")},
        {"", home + QStringLiteral("/.config/beamport/bench.key")},
        {"relative/config", home + QStringLiteral("/.config/beamport/bench.key")},
    };
    for (const auto &c : cases) {
        const TEnvVar xdg("XDG_CONFIG_HOME", c.xdg);
        EXPECT_EQ(DefaultBenchKeyPath(), c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
}
