#pragma once

#include "XmlWidget.h"

#include <QPlainTextEdit>

// A multi-line plain-text field ("textedit"); its value is its text.
class CTextEdit : public QPlainTextEdit, public CXmlWidget
{
    Q_OBJECT

public:
    CTextEdit(CXmlObject* parentObject, QWidget* parentWidget);
    ~CTextEdit() override;

    // Common attributes; the initial text from the element's Base64 text or else
    // "title" (both translated); "readonly" ("t"/"f").
    int parse(TiXmlElement* element, QString& error) override;
    // "clear".
    bool performAction(const QString& slot, const CActionItem* action) override;
    void setValue(const QString& value) override;
    QString getValue() const override;
    QWidget* widget() const override;

private:
    // Replaces the text. Text with a long run that has nowhere to break is wrapped
    // anywhere: breaking it only at word boundaries takes time that grows with the
    // square of the run's length.
    void showText(const QString& text);

    QTextOption::WrapMode m_defaultWrapMode;
};
