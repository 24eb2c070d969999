#include "CheckBox.h"

#include "ActionItem.h"

#include <QPointer>
#include <tinyxml.h>

CCheckBox::CCheckBox(CXmlObject* parentObject, QWidget* parentWidget)
    : QCheckBox(parentWidget), CXmlWidget(parentObject), m_sCheckValue(QStringLiteral("1"))
{
    // Only user clicks (and the click slots) count as a change with signals;
    // setValue and check/uncheck change the state through setChecked.
    connect(this, &QAbstractButton::clicked, this, &CCheckBox::onClicked);
    connect(this, &CCheckBox::mouseEnterWidget, this,
            [this](const QString& text) { onMouseOverWidget(text); });
    connect(this, &CCheckBox::mouseLeaveWidget, this, [this] { onMouseOverWidget(QString()); });
}

CCheckBox::~CCheckBox() = default;

int CCheckBox::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;
    if (const char* value = element->Attribute("checkvalue"))
        m_sCheckValue = convertAttribute(value);
    if (const char* value = element->Attribute("uncheckvalue"))
        m_sUncheckValue = convertAttribute(value);
    if (const char* title = element->Attribute("title"))
        setText(translate(title));
    return 0;
}

bool CCheckBox::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("check"))
        setChecked(true);
    else if (slot == QLatin1String("uncheck"))
        setChecked(false);
    else if (slot == QLatin1String("click"))
    {
        if (!isChecked())
            click();
    }
    else if (slot == QLatin1String("unclick"))
    {
        if (isChecked())
            click();
    }
    else
        return CXmlWidget::performAction(slot, action);
    return true;
}

void CCheckBox::setValue(const QString& value)
{
    if (value == m_sCheckValue && !isChecked())
    {
        setChecked(true);
        changed();
    }
    else if (value == m_sUncheckValue && isChecked())
    {
        setChecked(false);
        changed();
    }
}

CValueRule CCheckBox::valueRule() const
{
    CValueRule rule;
    rule.m_lChoices = QStringList{m_sCheckValue, m_sUncheckValue};
    rule.m_sText = CXmlObject::translate("\"%1\" (checked) or \"%2\" (unchecked)")
                       .arg(m_sCheckValue, m_sUncheckValue);
    return rule;
}

QString CCheckBox::getValue() const
{
    return isChecked() ? m_sCheckValue : m_sUncheckValue;
}

int CCheckBox::initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                          QString& error)
{
    if (signal == QLatin1String("checked"))
        connect(this, &CCheckBox::checked, action, &CActionItem::doAction);
    else if (signal == QLatin1String("unchecked"))
        connect(this, &CCheckBox::unchecked, action, &CActionItem::doAction);
    else
        return CXmlWidget::initSignal(signal, action, element, error);
    return 0;
}

QWidget* CCheckBox::widget() const
{
    return const_cast<CCheckBox*>(this);
}

void CCheckBox::enterEvent(QEvent* event)
{
    QCheckBox::enterEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseEnterWidget(m_sToolTip);
}

void CCheckBox::leaveEvent(QEvent* event)
{
    QCheckBox::leaveEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseLeaveWidget();
}

void CCheckBox::onClicked(bool bChecked)
{
    // An action's dialog may let the page tree be replaced before the signal returns.
    const QPointer<CCheckBox> self(this);
    if (bChecked)
        emit checked();
    else
        emit unchecked();
    if (self)
        changed();
}
