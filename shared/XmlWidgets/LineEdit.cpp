#include "LineEdit.h"

#include "ActionItem.h"
#include "NoControlCharsValidator.h"

#include <QPointer>
#include <tinyxml.h>

CLineEdit::CLineEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : QLineEdit(parentWidget), CXmlWidget(parentObject)
{
    connect(this, &QLineEdit::textChanged, this, &CLineEdit::onTextChanged);
    connect(this, &CLineEdit::mouseEnterWidget, this,
            [this](const QString& text) { onMouseOverWidget(text); });
    connect(this, &CLineEdit::mouseLeaveWidget, this, [this] { onMouseOverWidget(QString()); });
}

CLineEdit::~CLineEdit() = default;

int CLineEdit::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;
    if (const char* mask = element->Attribute("mask"))
        setInputMask(QString::fromUtf8(mask));
    else if (!validator())
        setValidator(new NoControlCharsValidator(this));
    return 0;
}

bool CLineEdit::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("clear"))
    {
        clear();
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

void CLineEdit::setValue(const QString& value)
{
    setText(value);
}

QString CLineEdit::getValue() const
{
    return text();
}

int CLineEdit::initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                          QString& error)
{
    if (signal == QLatin1String("textedited"))
        connect(this, &CLineEdit::textEdited, action, &CActionItem::doAction);
    else if (signal == QLatin1String("textchanged"))
        connect(this, &CLineEdit::textChanged, action, &CActionItem::doAction);
    else
        return CXmlWidget::initSignal(signal, action, element, error);
    return 0;
}

QWidget* CLineEdit::widget() const
{
    return const_cast<CLineEdit*>(this);
}

void CLineEdit::enterEvent(QEvent* event)
{
    QLineEdit::enterEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseEnterWidget(m_sToolTip);
}

void CLineEdit::leaveEvent(QEvent* event)
{
    QLineEdit::leaveEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseLeaveWidget();
}

void CLineEdit::onTextChanged()
{
    // An action's dialog may let the page tree be replaced before a signal returns.
    const QPointer<CLineEdit> self(this);
    changed();
    emit textEdited();
    if (self)
        emit textChanged();
}
