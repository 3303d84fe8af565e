#pragma once
// The one rule for a text from a detector or a person that is shown on a
// terminal, in a window or on a page: nothing in it may move the cursor,
// clear a screen, forge a line or turn the text around. Control characters
// (below 0x20, 0x7F to 0x9F) are written out ("\\n", "\\r", "\\t", else
// "\\x1B"); line and paragraph separators, the bidirectional controls and
// the invisible format characters (zero-width spaces and joiners, the byte
// order mark) and a lone surrogate as "\\u202E"; the backslash doubled, so a
// written-out character never passes for a real one. Everything else is
// left as it is. JSON output keeps exact values and has escapes of its own.
#include <string>

#include <QString>

// A text as Qt holds it.
QString VisibleText(const QString &text);
// A text kept as UTF-8 (a cylinder's lot, maker, ...); the result is UTF-8.
std::string VisibleUtf8(const std::string &utf8);
// A detector's character field: one byte, one character (Latin-1); bytes
// that need no escape stay the bytes they are.
std::string VisibleLatin1(const std::string &bytes);
