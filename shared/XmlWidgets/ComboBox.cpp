#include "ComboBox.h"

#include "ComboBoxItem.h"

#include <QPointer>

Q_DECLARE_METATYPE(QPointer<CComboBoxItem>)

CComboBox::CComboBox(CXmlObject* parentObject, QWidget* parentWidget)
    : QComboBox(parentWidget), CXmlContainer(parentObject)
{
    connect(this, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CComboBox::onCurrentIndexChanged);
}

CComboBox::~CComboBox() = default;

QString CComboBox::getValue() const
{
    const CComboBoxItem* pEntry = entryAt(currentIndex());
    return pEntry ? pEntry->getValue() : QString();
}

void CComboBox::setValue(const QString& value)
{
    for (int i = 0; i < count(); ++i)
    {
        const CComboBoxItem* pEntry = entryAt(i);
        if (pEntry && pEntry->getValue() == value)
        {
            setCurrentIndex(i);
            return;
        }
    }
}

CValueRule CComboBox::valueRule() const
{
    QStringList values;
    for (int i = 0; i < count(); ++i)
    {
        if (const CComboBoxItem* pEntry = entryAt(i))
            values << pEntry->getValue();
    }
    return CValueRule::oneOf(values);
}

QWidget* CComboBox::widget() const
{
    return const_cast<CComboBox*>(this);
}

CXmlWidget* CComboBox::createWidget(const QString& name, QString& error)
{
    if (name == QLatin1String("entry"))
        return new CComboBoxItem(this, this);
    error = CXmlObject::translate("Widget \"%1\" no supported in ComboBox").arg(name);
    return nullptr;
}

int CComboBox::addWidget(const QString& name, CXmlWidget* object, TiXmlElement* /*element*/,
                         QString& error)
{
    auto* pEntry = dynamic_cast<CComboBoxItem*>(object);
    if (name != QLatin1String("entry") || !pEntry)
    {
        error = CXmlObject::translate("Only entry items are allowed in ComboBox.");
        return 1;
    }
    // A guarded reference: an entry deleted on its own must not leave a dangling item.
    addItem(pEntry->text(), QVariant::fromValue(QPointer<CComboBoxItem>(pEntry)));
    return 0;
}

CComboBoxItem* CComboBox::entryAt(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return itemData(index).value<QPointer<CComboBoxItem>>().data();
}

void CComboBox::onCurrentIndexChanged(int index)
{
    changed();
    if (CComboBoxItem* pEntry = entryAt(index))
        pEntry->setSelected();
}
