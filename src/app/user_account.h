#pragma once
// Who runs the program, as the system's account database says
// (user_account_posix.cpp): the login and the full name a record names.
#include <optional>
#include <string>

// The login name of the effective user; none when the database has no entry.
std::optional<std::string> AccountLoginName();
// The effective user's number, as text (for a user the database lacks).
std::string AccountUserNumber();
// The account's comment field (the full name, maybe followed by ",room,phone
// ..."), as the database has it; empty when there is none.
std::string AccountComment();
