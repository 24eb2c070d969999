#include "TextEdit.h"

#include <tinyxml.h>

CTextEdit::CTextEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : QPlainTextEdit(parentWidget), CXmlWidget(parentObject), m_defaultWrapMode(wordWrapMode())
{
    connect(this, &QPlainTextEdit::textChanged, this, [this] { changed(); });
}

CTextEdit::~CTextEdit() = default;

int CTextEdit::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;

    const QByteArray text = elementData(element);
    if (!text.isEmpty())
        showText(translate(text.constData()));
    else if (const char* title = element->Attribute("title"))
    {
        if (*title)
            showText(translate(title));
    }

    const QString readOnly = convertAttribute(element->Attribute("readonly"));
    if (readOnly.compare(QLatin1String("t"), Qt::CaseInsensitive) == 0)
        setReadOnly(true);
    else if (readOnly.compare(QLatin1String("f"), Qt::CaseInsensitive) == 0)
        setReadOnly(false);
    else if (!readOnly.isEmpty())
    {
        error = CXmlObject::translate("Incorrect value for \"readonly\" attribute in object "
                                      "\"%1\": %2")
                    .arg(m_sName, readOnly);
        return 1;
    }
    return 0;
}

bool CTextEdit::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("clear"))
    {
        clear();
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

void CTextEdit::setValue(const QString& value)
{
    showText(value);
}

void CTextEdit::showText(const QString& text)
{
    // Longer than any word; a line of the editor holds far fewer characters.
    const int longRun = 1000;
    int run = 0;
    bool unbroken = false;
    for (const QChar c : text)
    {
        run = c.isSpace() ? 0 : run + 1;
        if (run > longRun)
        {
            unbroken = true;
            break;
        }
    }
    setWordWrapMode(unbroken ? QTextOption::WrapAnywhere : m_defaultWrapMode);
    setPlainText(text);
}

QString CTextEdit::getValue() const
{
    return toPlainText();
}

QWidget* CTextEdit::widget() const
{
    return const_cast<CTextEdit*>(this);
}
