#include "FrameworkTestSupport.h"

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Container.h"
#include "shared/XmlWidgets/GalleryObsoleteException.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"

namespace FrameworkTest
{

CTestField::CTestField(CXmlObject* parentObject, QWidget* parentWidget)
    : QWidget(parentWidget), CXmlWidget(parentObject)
{
}

CTestField::~CTestField() = default;

QWidget* CTestField::widget() const
{
    return const_cast<CTestField*>(this);
}

void CTestField::setValue(const QString& value)
{
    if (value == m_sValue)
        return;
    m_sValue = value;
    changed();
}

QString CTestField::getValue() const
{
    return m_sValue;
}

bool CTestField::performAction(const QString& slot, const CActionItem* action)
{
    m_lSlots.append(slot);
    return CXmlWidget::performAction(slot, action);
}

CTestFactory::CTestFactory(QObject* parent) : CWidgetFactory(parent) {}

CXmlWidget* CTestFactory::createCustomWidget(const QString& name, CXmlContainer* container,
                                             QString& /*error*/)
{
    if (name == QLatin1String("customframe"))
        return new CContainer(container, container->widget());
    if (name == QLatin1String("testfield"))
        return new CTestField(container, container->widget());
    return nullptr;
}

CActionItem* CTestFactory::createCustomAction(const QString& name, CXmlObject* owner,
                                              QString& /*error*/)
{
    if (name == QLatin1String("galleryaction"))
    {
        markObsolete(owner, std::make_shared<GalleryObsoleteException>());
        return new CActionItem(owner);
    }
    if (name == QLatin1String("customaction"))
        return new CActionItem(owner);
    return nullptr;
}

int CTestValidator::validateXml(TiXmlElement* element, QString& error)
{
    m_lAsked.append(QString::fromUtf8(element->Value()));
    return m_fnVerdict ? m_fnVerdict(element, error) : 0;
}

std::unique_ptr<Definition> load(const QString& xml, bool initialise)
{
    auto definition = std::make_unique<Definition>();
    definition->readResult =
        CXmlDefinitionReader::read(xml.toUtf8(), definition->document, definition->error);
    if (definition->readResult != 0)
        return definition;
    definition->root = std::make_unique<CTestRoot>();
    definition->parseResult =
        definition->root->parse(definition->document.RootElement(), definition->error);
    if (definition->parseResult == 0 && initialise)
        definition->initResult = definition->root->init(definition->error);
    return definition;
}

QString wrap(const QString& body)
{
    return QStringLiteral("<root version=\"1.8\" layout=\"vertical\">") + body +
           QStringLiteral("</root>");
}

void FrameworkFixture::SetUp()
{
    CXmlObject::m_gCurrentXmlVersion = std::wstring(L"1.8");
    m_pFactory = std::make_unique<CTestFactory>();
    CXmlContainer::m_pStaticWidgetFactory = m_pFactory.get();
    CXmlContainer::m_pStaticValidator = nullptr;
}

void FrameworkFixture::TearDown()
{
    m_pFactory.reset();
    CXmlContainer::m_pStaticValidator = nullptr;
    CXmlObject::m_gCurrentXmlVersion = orbilib::utils::CVersion();
}

} // namespace FrameworkTest

// Qt's offscreen platform never frees its screen objects when the application
// object goes; under LeakSanitizer that would fail every run of this executable
// (test discovery included). Only those allocations are exempt: a leaked
// QObject of ours is still reported where it was made.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n"
           "leak:QObject::QObject\n"
           "leak:libfontconfig.so\n";
}
