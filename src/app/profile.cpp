#include "app/profile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Unquote(std::string_view s)
{
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

} // namespace

bool SameTextIgnoreCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

TProfile::TProfile(std::string_view text) { LoadText(text); }

bool TProfile::LoadFile(const std::string &path, EInputFile *why)
{
    FSections.clear();
    const RInputFile file = ReadInputFile(path, kMaxFileSize);
    if (why)
        *why = file.mResult;
    if (!file.Ok())
        return false;
    LoadText(std::string_view(reinterpret_cast<const char *>(file.mBytes.data()), file.mBytes.size()));
    return true;
}

void TProfile::LoadText(std::string_view text)
{
    FSections.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") // a byte-order mark some editors write
        text.remove_prefix(3);
    RSection *current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = (end == std::string_view::npos) ? std::string_view() : text.substr(end + 1);
        line = Trim(line);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            line.remove_prefix(1);
            const size_t close = line.find(']');
            FSections.push_back({std::string(Trim(line.substr(0, close))), {}});
            current = &FSections.back();
            continue;
        }
        if (current == nullptr)
            continue; // lines before the first section belong to none
        const size_t eq = line.find('=');
        RLine entry;
        if (eq == std::string_view::npos) {
            entry.mKey = std::string(line);
        } else {
            entry.mKey = std::string(Trim(line.substr(0, eq)));
            entry.mValue = std::string(Unquote(Trim(line.substr(eq + 1))));
        }
        current->mLines.push_back(std::move(entry));
    }
}

const TProfile::RSection *TProfile::Find(std::string_view section) const
{
    for (const RSection &s : FSections)
        if (SameTextIgnoreCase(s.mName, section))
            return &s;
    return nullptr;
}


std::string TProfile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    if (const RSection *s = Find(section)) {
        for (const RLine &line : s->mLines)
            if (SameTextIgnoreCase(line.mKey, key))
                return line.mValue;
    }
    return std::string(def);
}

int TProfile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    const std::string text = ReadString(section, key, "");
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return def;
    int64_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return def;
        value = value * base + digit;
        if (value > (int64_t{1} << 32))
            return def;
    }
    if (negative)
        value = -value;
    if (base == 16 && value > INT32_MAX && value <= UINT32_MAX)
        value -= int64_t{1} << 32; // "$FFFFFFFF" is -1
    if (value < INT32_MIN || value > INT32_MAX)
        return def;
    return static_cast<int>(value);
}

std::vector<TProfile::RLine> TProfile::ReadSectionLines(std::string_view section) const
{
    if (const RSection *s = Find(section))
        return s->mLines;
    return {};
}

std::string TProfile::FindFileAnyCase(const std::string &dir, const std::string &name)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string exact = dir + name;
    if (fs::exists(exact, ec))
        return exact;
    const fs::path folder = dir.empty() ? fs::path(".") : fs::path(dir);
    std::vector<std::string> matches;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (SameTextIgnoreCase(entry, name))
            matches.push_back(entry);
    }
    if (matches.empty())
        return exact;
    std::sort(matches.begin(), matches.end());
    return dir + matches.front();
}
