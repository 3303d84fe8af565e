#pragma once
// A read-only settings (INI) file with the semantics of profile files:
// sections in brackets, lines of key "=" value; keys and values trimmed of
// blanks; a value enclosed in a matching pair of quotes loses them; section
// and key names compared without regard to letter case (ASCII); the first
// section of a name and the first key of a name win; lines starting with ";"
// are comments. Line ends CR LF or LF; bytes are kept as they are.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/input_file.h"

class TProfile {
public:
    struct RLine {
        std::string mKey;   // trimmed; the whole line when it has no "="
        std::string mValue; // trimmed; empty when the line has no "="
    };

    TProfile() = default;
    // Parses the text of a settings file.
    explicit TProfile(std::string_view text);

    // Reads a file of at most kMaxFileSize bytes. A missing or unreadable
    // file, one that is not a regular file (read without waiting) and a
    // larger one give an empty profile (false), with the reason in *why.
    bool LoadFile(const std::string &path, EInputFile *why = nullptr);
    static constexpr uint64_t kMaxFileSize = 1024 * 1024;
    void LoadText(std::string_view text);

    // The value of the first key of that name in the first section of that
    // name, or `def` when either is missing.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // An integer value: optional sign then decimal digits, or hexadecimal after
    // "$" or "0x"; `def` when missing, not a number or beyond 32 bits.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // Every key line of the first section of that name, in file order
    // (blank and comment lines left out).
    std::vector<RLine> ReadSectionLines(std::string_view section) const;

    // The file `name` in folder `dir`: that exact name when it exists, else the
    // first entry (in name order) that equals it without regard to letter case;
    // `dir` + `name` when there is none. `dir` ends in a separator or is empty.
    static std::string FindFileAnyCase(const std::string &dir, const std::string &name);

private:
    struct RSection {
        std::string mName;
        std::vector<RLine> mLines;
    };
    const RSection *Find(std::string_view section) const;

    std::vector<RSection> FSections;
};

// Text equality without regard to ASCII letter case.
bool SameTextIgnoreCase(std::string_view a, std::string_view b);
