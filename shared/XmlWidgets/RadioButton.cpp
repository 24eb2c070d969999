#include "RadioButton.h"

#include "ActionItem.h"

#include <QPointer>
#include <tinyxml.h>

CRadioButton::CRadioButton(CXmlObject* parentObject, QWidget* parentWidget)
    : QRadioButton(parentWidget), CXmlWidget(parentObject)
{
    // Every toggle counts, whoever caused it: the user, a slot or the button group.
    connect(this, &QAbstractButton::toggled, this, &CRadioButton::onToggled);
    connect(this, &CRadioButton::mouseEnterWidget, this,
            [this](const QString& text) { onMouseOverWidget(text); });
    connect(this, &CRadioButton::mouseLeaveWidget, this, [this] { onMouseOverWidget(QString()); });
}

CRadioButton::~CRadioButton() = default;

int CRadioButton::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;
    if (const char* title = element->Attribute("title"))
        setText(translate(title));
    if (const char* value = element->Attribute("value"))
        m_sValue = QString::fromUtf8(value);
    return 0;
}

bool CRadioButton::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("click"))
        click();
    else if (slot == QLatin1String("check"))
        setChecked(true);
    else if (slot == QLatin1String("uncheck"))
        setChecked(false);
    else
        return CXmlWidget::performAction(slot, action);
    return true;
}

void CRadioButton::setValue(const QString& value)
{
    m_sValue = value;
}

QString CRadioButton::getValue() const
{
    return m_sValue;
}

bool CRadioButton::isEmpty() const
{
    return !isChecked();
}

int CRadioButton::initSignal(const QString& signal, const CActionItem* action,
                             TiXmlElement* element, QString& error)
{
    if (signal == QLatin1String("checked"))
        connect(this, &CRadioButton::checked, action, &CActionItem::doAction);
    else if (signal == QLatin1String("unchecked"))
        connect(this, &CRadioButton::unchecked, action, &CActionItem::doAction);
    else
        return CXmlWidget::initSignal(signal, action, element, error);
    return 0;
}

QWidget* CRadioButton::widget() const
{
    return const_cast<CRadioButton*>(this);
}

void CRadioButton::enterEvent(QEvent* event)
{
    QRadioButton::enterEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseEnterWidget(m_sToolTip);
}

void CRadioButton::leaveEvent(QEvent* event)
{
    QRadioButton::leaveEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseLeaveWidget();
}

void CRadioButton::onToggled(bool bChecked)
{
    // An action's dialog may let the page tree be replaced before the signal returns.
    const QPointer<CRadioButton> self(this);
    if (bChecked)
        emit checked();
    else
        emit unchecked();
    if (self)
        changed();
}
