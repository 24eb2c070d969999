#pragma once

#include <QValidator>

// Keeps a one-line field on one line: carriage returns, line feeds and tabs are
// removed from whatever is typed or pasted, and the rest is always accepted.
class NoControlCharsValidator : public QValidator
{
    Q_OBJECT

public:
    explicit NoControlCharsValidator(QObject* parent = nullptr);
    ~NoControlCharsValidator() override;

    State validate(QString& input, int& pos) const override;
};
