#include "TextEdit.h"

#include <tinyxml.h>

CTextEdit::CTextEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : QPlainTextEdit(parentWidget), CXmlWidget(parentObject)
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
        setPlainText(translate(text.constData()));
    else if (const char* title = element->Attribute("title"))
    {
        if (*title)
            setPlainText(translate(title));
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
    setPlainText(value);
}

QString CTextEdit::getValue() const
{
    return toPlainText();
}

QWidget* CTextEdit::widget() const
{
    return const_cast<CTextEdit*>(this);
}
