#pragma once

// What to find, as the find dialog asks for it: the text and how it matches (case, whole word,
// a regular expression). The same query serves the view's find and the find in all open logs.

#include <QString>

#include <cctype>

namespace tlg {

struct FindQuery {
    QString text;
    bool matchCase = false;
    bool wholeWord = false; // plain text only: an expression says its own word bounds
    bool regex = false;
};

// A byte that belongs to a word, for "Whole word": a letter, a digit, '_', or any byte of a
// character beyond ASCII.
inline bool WordByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || byte == '_' || byte >= 0x80;
}

} // namespace tlg
