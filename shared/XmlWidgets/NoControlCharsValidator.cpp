#include "NoControlCharsValidator.h"

NoControlCharsValidator::NoControlCharsValidator(QObject* parent) : QValidator(parent) {}

NoControlCharsValidator::~NoControlCharsValidator() = default;

QValidator::State NoControlCharsValidator::validate(QString& input, int& pos) const
{
    // Walk once, keeping the cursor on the same character it was after.
    QString cleaned;
    cleaned.reserve(input.size());
    int newPos = pos;
    for (int i = 0; i < input.size(); ++i)
    {
        const QChar c = input.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
        {
            if (i < pos)
                --newPos;
            continue;
        }
        cleaned.append(c);
    }
    if (cleaned.size() != input.size())
    {
        input = cleaned;
        pos = qBound(0, newPos, input.size());
    }
    return Acceptable;
}
