#include "model/visible_text.h"

#include <cstdio>

namespace {

// How the character is written out; empty when it is shown as it is.
std::string Escape(char32_t c)
{
    char hex[16];
    switch (c) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
        return hex;
    }
    const bool hidden = c == 0x061C                     // Arabic letter mark
                        || (c >= 0x200B && c <= 0x200F) // zero-width space, joiners, LRM, RLM
                        || (c >= 0x2028 && c <= 0x202E) // line and paragraph separators, embeddings, overrides
                        || (c >= 0x2060 && c <= 0x2069) // word joiner, invisible operators, isolates
                        || c == 0xFEFF                  // byte order mark
                        || (c >= 0xD800 && c <= 0xDFFF); // a surrogate standing alone
    if (!hidden)
        return {};
    std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
    return hex;
}

} // namespace

QString VisibleText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // A surrogate pair is one character above the Basic Multilingual Plane: shown as it is.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
            continue;
        }
        const std::string e = Escape(c.unicode());
        if (e.empty())
            out += c;
        else
            out += QLatin1String(e.data(), static_cast<qsizetype>(e.size()));
    }
    return out;
}

std::string VisibleUtf8(const std::string &utf8)
{
    return VisibleText(QString::fromStdString(utf8)).toStdString();
}

std::string VisibleLatin1(const std::string &bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const std::string e = Escape(static_cast<unsigned char>(ch));
        if (e.empty())
            out += ch;
        else
            out += e;
    }
    return out;
}
