#pragma once

#include <QString>
#include <QStringList>

// What a field of a page takes, read from the field itself: for reports, for
// messages that say why a value was refused, and for scripts that fill fields.
struct CValueRule
{
    // The values a list, a group or a check box offers, in order (a bit mask: the
    // values of its boxes).
    QStringList m_lChoices;
    // A number field with limits.
    bool m_bRange = false;
    int m_iMinimum = 0;
    int m_iMaximum = 0;
    // A line edit's input mask.
    QString m_sMask;
    // The same for people: "one of \"a\", \"b\"", "1 to 365", ...; empty when
    // anything goes.
    QString m_sText;

    // A rule that offers choices: "one of "a", "b"" (an empty choice shows as "").
    static CValueRule oneOf(const QStringList& choices);
};
