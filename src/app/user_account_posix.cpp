#include "app/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// The effective user's entry of the account database; nullptr when none.
const passwd *Entry(passwd &pw, std::vector<char> &buf)
{
    buf.assign(16384, '\0');
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0)
        return nullptr;
    return found;
}

} // namespace

std::optional<std::string> AccountLoginName()
{
    passwd pw{};
    std::vector<char> buf;
    const passwd *found = Entry(pw, buf);
    if (!found || !found->pw_name)
        return std::nullopt;
    return std::string(found->pw_name);
}

std::string AccountUserNumber() { return std::to_string(geteuid()); }

std::string AccountComment()
{
    passwd pw{};
    std::vector<char> buf;
    const passwd *found = Entry(pw, buf);
    return found && found->pw_gecos ? std::string(found->pw_gecos) : std::string();
}
