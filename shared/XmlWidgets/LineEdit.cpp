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

CXmlObject::ValueFit CLineEdit::offerValue(const QString& value, QString* reason)
{
    if (value.isEmpty())
    {
        clear();
        return ValueTaken;
    }
    const QString previous = text();
    auto refuse = [&](const QString& why)
    {
        setText(previous);
        if (reason)
            *reason = why;
        return ValueRefused;
    };
    // A mask sets the length itself, and says so when a value does not fit it.
    if (inputMask().isEmpty() && value.size() > maxLength())
        return refuse(CXmlObject::translate("is longer than %1 characters").arg(maxLength()));
    // What typing or pasting would leave: the validator cleans the text up first.
    QString typed = value;
    if (const QValidator* const check = validator())
    {
        int position = typed.size();
        if (check->validate(typed, position) == QValidator::Invalid)
            return refuse(refusal(value));
    }
    setText(typed);
    const QString held = text();
    if (!hasAcceptableInput())
        return refuse(refusal(value));
    if (held == value)
        return ValueTaken;
    if (held.compare(value, Qt::CaseInsensitive) == 0)
    {
        if (reason)
            *reason = CXmlObject::translate("was written in the letter case of the input mask "
                                            "\"%1\"")
                          .arg(inputMask());
        return ValueAdjusted;
    }
    return refuse(refusal(value));
}

CValueRule CLineEdit::valueRule() const
{
    CValueRule rule;
    rule.m_sMask = inputMask();
    if (!rule.m_sMask.isEmpty())
        rule.m_sText = CXmlObject::translate("text of the input mask \"%1\"").arg(rule.m_sMask);
    return rule;
}

QString CLineEdit::refusal(const QString& value) const
{
    if (!inputMask().isEmpty())
        return CXmlObject::translate("does not fit the input mask \"%1\"").arg(inputMask());
    for (const QChar c : value)
    {
        if (c.category() == QChar::Other_Control)
            return CXmlObject::translate("holds a line break, a tab or another control "
                                         "character, which a one-line field does not take");
    }
    const CValueRule rule = valueRule();
    return rule.m_sText.isEmpty() ? CXmlObject::translate("is not taken by the field")
                                  : CXmlObject::translate("is not %1").arg(rule.m_sText);
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
