#include "link/doctor_text.h"

#include <algorithm>

namespace doctor_text {

std::vector<std::string> SplitColons(const std::string &text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(':', start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::vector<RGroup> ParseGroups(const std::string &text)
{
    std::vector<RGroup> groups;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        // name:password:gid:member,member
        std::vector<std::string> fields;
        size_t s = 0;
        for (;;) {
            const size_t c = line.find(':', s);
            fields.push_back(line.substr(s, c == std::string::npos ? std::string::npos : c - s));
            if (c == std::string::npos)
                break;
            s = c + 1;
        }
        if (fields.size() < 3 || fields[0].empty() || fields[2].empty() ||
            fields[2].find_first_not_of("0123456789") != std::string::npos || fields[2].size() > 9)
            continue;
        RGroup g;
        g.mName = fields[0];
        g.mGid = static_cast<RGroupId>(std::stoul(fields[2]));
        if (fields.size() > 3) {
            size_t m = 0;
            const std::string &list = fields[3];
            while (m <= list.size()) {
                const size_t comma = std::min(list.find(',', m), list.size());
                if (comma > m)
                    g.mMembers.push_back(Trimmed(list.substr(m, comma - m)));
                m = comma + 1;
            }
        }
        groups.push_back(std::move(g));
    }
    return groups;
}

const RGroup *GroupById(const std::vector<RGroup> &groups, RGroupId gid)
{
    for (const RGroup &g : groups)
        if (g.mGid == gid)
            return &g;
    return nullptr;
}

RUdevRecord ParseUdevRecord(const std::string &text)
{
    RUdevRecord r;
    r.mRead = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line == "G:uaccess" || line == "Q:uaccess")
            r.mUaccess = true;
        else if (line == "E:ID_MM_DEVICE_IGNORE=1")
            r.mModemIgnored = true;
    }
    return r;
}

} // namespace doctor_text
