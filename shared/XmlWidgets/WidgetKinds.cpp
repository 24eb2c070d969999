#include "WidgetKinds.h"

#include "BitMask.h"
#include "Button.h"
#include "ButtonGroup.h"
#include "CheckBox.h"
#include "ComboBox.h"
#include "Container.h"
#include "HLine.h"
#include "HyperLink.h"
#include "Label.h"
#include "LineEdit.h"
#include "NumberEdit.h"
#include "RadioButton.h"
#include "SpinBox.h"
#include "TextEdit.h"
#include "VLine.h"
#include "XmlContainer.h"

#include <functional>
#include <unordered_map>

namespace
{
using Maker = std::function<CXmlWidget*(CXmlObject*, QWidget*)>;

template <typename Kind> Maker maker()
{
    return [](CXmlObject* parentObject, QWidget* parentWidget) -> CXmlWidget*
    { return new Kind(parentObject, parentWidget); };
}

const std::unordered_map<std::string, Maker>& kinds()
{
    static const std::unordered_map<std::string, Maker> table = {
        {"radiobutton", maker<CRadioButton>()},
        {"checkbox", maker<CCheckBox>()},
        {"label", maker<CLabel>()},
        {"link", maker<CHyperLink>()},
        {"pushbutton", maker<CButton>()},
        {"lineedit", maker<CLineEdit>()},
        {"numberedit", maker<CNumberEdit>()},
        {"textedit", maker<CTextEdit>()},
        {"spinbox", maker<CSpinBox>()},
        {"combobox", maker<CComboBox>()},
        {"container", maker<CContainer>()},
        {"buttongroup", maker<CButtonGroup>()},
        {"bitmask", maker<CBitMask>()},
        {"hline", maker<CHLine>()},
        {"vline", maker<CVLine>()},
    };
    return table;
}
} // namespace

CXmlWidget* createBuiltinWidget(const QString& name, CXmlContainer* container)
{
    if (!container)
        return nullptr;
    // Element names of widgets are case-sensitive.
    const auto it = kinds().find(name.toStdString());
    if (it == kinds().end())
        return nullptr;
    return it->second(container, container->widget());
}
