#pragma once

#include <QString>

// Text from outside (values, names, what tools print) made safe to show or to print
// one per line: control characters and the characters that reorder or hide text
// (direction overrides and isolates, zero-width marks) become visible escapes, so
// nothing read can fake a line, a status or a reversed name.
class CShownText
{
public:
    // The longest part of a value quoted in a message.
    static const int QuoteLimit = 200;

    // text with "\n", "\t", "\x1b", "\u202e" ... in place of such characters; a
    // backslash stays as it is.
    static QString escaped(const QString& text);
    // A value for a message: escaped, in double quotes, and cut after QuoteLimit
    // characters with how long it is.
    static QString quoted(const QString& value);
    // Whether c is shown as an escape.
    static bool needsEscape(QChar c);
};
