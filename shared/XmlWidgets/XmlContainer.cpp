#include "XmlContainer.h"

#include "WidgetFactory.h"
#include "WidgetKinds.h"
#include "XmlValidator.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QGridLayout>
#include <QStackedLayout>
#include <QWidget>
#include <climits>
#include <tinyxml.h>

CXmlValidator* CXmlContainer::m_pStaticValidator = nullptr;
CWidgetFactory* CXmlContainer::m_pStaticWidgetFactory = nullptr;

namespace
{
// Grid rows and columns are allocated up to the highest index used, so a forged
// "row" must not make the layout reserve millions of cells.
const int kMaxGridIndex = 1000;

QString message(const char* text)
{
    return QCoreApplication::translate("CXmlContainer", text);
}

// The C library's atoi, without its undefined behaviour on overflow: leading
// white space, an optional sign, decimal digits; 0 without digits; saturated.
int readInteger(const char* text)
{
    if (!text)
        return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
    {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

bool readAlignment(const QString& value, Qt::Alignment& alignment)
{
    static const struct
    {
        const char* name;
        Qt::Alignment flags;
    } table[] = {
        {"left", Qt::AlignLeft},       {"right", Qt::AlignRight},     {"center", Qt::AlignCenter},
        {"hcenter", Qt::AlignHCenter}, {"vcenter", Qt::AlignVCenter}, {"justify", Qt::AlignJustify},
        {"top", Qt::AlignTop},         {"bottom", Qt::AlignBottom},
    };
    for (const auto& entry : table)
    {
        if (value == QLatin1String(entry.name))
        {
            alignment = entry.flags;
            return true;
        }
    }
    return false;
}
} // namespace

CXmlContainer::CXmlContainer(CXmlObject* parent) : CXmlWidget(parent) {}

CXmlContainer::~CXmlContainer() = default;

int CXmlContainer::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != ParseSuccess)
        return result;
    createLayout(element);

    for (TiXmlElement* child = element->FirstChildElement(); child;
         child = child->NextSiblingElement())
    {
        if (m_pStaticValidator)
        {
            const int verdict = m_pStaticValidator->validateXml(child, error);
            if (verdict == ParseError)
                return ParseError;
            if (verdict != ParseSuccess)
                continue;
        }
        if (!isSupportedOS(convertAttribute(child->Attribute("os"))))
            continue;
        const QString name = QString::fromUtf8(child->Value());
        // Null is how actions (already handled by CXmlObject::parse) and unknown
        // elements pass: skipped, not failed.
        const quint64 firstNewSerial = nextCreationSerial();
        CXmlWidget* object = createWidget(name, error);
        if (!object)
            continue;
        object->setKind(name);
        int childResult = object->parse(child, error);
        if (childResult == ParseSuccess)
            childResult = addWidget(name, object, child, error);
        if (childResult == ParseSuccess)
            continue;
        // Pre-built objects handed out by an override stay with their owner.
        if (object->creationSerial() >= firstNewSerial)
            delete object;
        if (childResult == ParseError)
            return ParseError;
    }
    return ParseSuccess;
}

void CXmlContainer::discardDefinition()
{
    CXmlWidget::discardDefinition();
    delete m_pBoxLayout;
    delete m_pGridLayout;
    delete m_pStackedLayout;
    m_pBoxLayout = nullptr;
    m_pGridLayout = nullptr;
    m_pStackedLayout = nullptr;
}

CXmlWidget* CXmlContainer::createWidget(const QString& name, QString& error)
{
    if (CXmlWidget* object = createBuiltinWidget(name, this))
        return object;
    if (m_pStaticWidgetFactory)
    {
        if (CXmlWidget* object = m_pStaticWidgetFactory->createCustomWidget(name, this, error))
            return object;
    }
    if (error.isEmpty())
        error = message("Unknown widget: %1").arg(name);
    return nullptr;
}

int CXmlContainer::addWidget(const QString& /*name*/, CXmlWidget* object, TiXmlElement* element,
                             QString& error)
{
    QWidget* const child = object ? object->widget() : nullptr;
    if (!child)
        return ParseSuccess;

    int stretch = 0, row = 0, column = 0, rowSpan = 1, columnSpan = 1;
    int minimumHeight = 0, minimumWidth = 0, rowStretch = 0, columnStretch = 0;
    Qt::Alignment alignment;
    for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute;
         attribute = attribute->Next())
    {
        const QString attributeName = QString::fromUtf8(attribute->Name()).toLower();
        const int number = readInteger(attribute->Value());
        if (attributeName == QLatin1String("stretch"))
            stretch = number;
        else if (attributeName == QLatin1String("row"))
            row = number;
        else if (attributeName == QLatin1String("col"))
            column = number;
        else if (attributeName == QLatin1String("rspan"))
            rowSpan = number;
        else if (attributeName == QLatin1String("cspan"))
            columnSpan = number;
        else if (attributeName == QLatin1String("minheight"))
            minimumHeight = number;
        else if (attributeName == QLatin1String("minwidth"))
            minimumWidth = number;
        else if (attributeName == QLatin1String("rstretch"))
            rowStretch = number;
        else if (attributeName == QLatin1String("cstretch"))
            columnStretch = number;
        else if (attributeName == QLatin1String("align"))
        {
            const QString value = convertAttribute(attribute->Value());
            if (!readAlignment(value, alignment))
            {
                error = message("Unknown alignment \"%1\" for layout").arg(value);
                return ParseError;
            }
        }
    }

    if (m_pBoxLayout)
    {
        m_pBoxLayout->addWidget(child, stretch, alignment);
        return ParseSuccess;
    }
    if (m_pStackedLayout)
    {
        m_pStackedLayout->addWidget(child);
        return ParseSuccess;
    }
    if (m_pGridLayout)
    {
        // Qt reads a span of -1 as "to the last row/column"; anything else below 1
        // or beyond the bounds would corrupt or bloat the grid.
        const auto spanOk = [](int span)
        { return span == -1 || (span >= 1 && span <= kMaxGridIndex); };
        if (row < 0 || row > kMaxGridIndex || column < 0 || column > kMaxGridIndex ||
            !spanOk(rowSpan) || !spanOk(columnSpan))
        {
            error = message("Grid cell (%1, %2) spanning (%3, %4) is out of range for layout")
                        .arg(row)
                        .arg(column)
                        .arg(rowSpan)
                        .arg(columnSpan);
            return ParseError;
        }
        m_pGridLayout->addWidget(child, row, column, rowSpan, columnSpan, alignment);
        if (rowStretch > 0)
            m_pGridLayout->setRowStretch(row, rowStretch);
        if (columnStretch > 0)
            m_pGridLayout->setColumnStretch(column, columnStretch);
        // Beyond Qt's largest widget size the layout arithmetic would overflow.
        if (minimumHeight > 0)
            m_pGridLayout->setRowMinimumHeight(row, qMin(minimumHeight, QWIDGETSIZE_MAX));
        if (minimumWidth > 0)
            m_pGridLayout->setColumnMinimumWidth(column, qMin(minimumWidth, QWIDGETSIZE_MAX));
        return ParseSuccess;
    }
    error = message("No layout specified.");
    return ParseError;
}

void CXmlContainer::createLayout(TiXmlElement* element)
{
    QWidget* const target = widget();
    const char* layout = element->Attribute("layout");
    // A widget keeps its first layout (a stacked widget or main window brings
    // its own); Qt would leave a second one detached.
    if (!target || !layout || target->layout())
        return;
    const QString kind = QString::fromUtf8(layout);
    if (kind == QLatin1String("horizontal"))
        m_pBoxLayout = new QHBoxLayout(target);
    else if (kind == QLatin1String("vertical"))
        m_pBoxLayout = new QVBoxLayout(target);
    else if (kind == QLatin1String("grid"))
        m_pGridLayout = new QGridLayout(target);
    else if (kind == QLatin1String("stacked"))
        m_pStackedLayout = new QStackedLayout(target);
}
