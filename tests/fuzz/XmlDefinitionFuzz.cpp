// Feeds arbitrary bytes through the way a page definition is loaded: reading
// (with the nesting limit), parsing into a root that stands in for the main
// window, and initialising. Any crash, sanitizer report or hang is a finding;
// load failures with a message are the expected outcome for most inputs.

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/GalleryObsoleteException.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/WidgetFactory.h"
#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"
#include "tests/support/StandInRoot.h"

#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <tinyxml.h>

namespace
{
// Like the main window: the root container with a page holder made in advance.
using CFuzzRoot = TestSupport::CStandInRoot;

class CFuzzFactory : public CWidgetFactory
{
public:
    CActionItem* createCustomAction(const QString& name, CXmlObject* owner, QString&) override
    {
        if (name != QLatin1String("galleryaction"))
            return nullptr;
        markObsolete(owner, std::make_shared<GalleryObsoleteException>());
        return new CActionItem(owner);
    }
};

// Actions that start programs, open files or addresses, or show modal dialogs
// would act on the machine or wait for a user; they are taken out before the
// definition is parsed. Everything else stays.
bool isOutsideAction(const TiXmlElement* element)
{
    const QString slot = QString::fromUtf8(element->Attribute("slot"))
                             .replace(QLatin1String("%OS%"), QLatin1String("Mac"))
                             .replace(QLatin1String("%LANGUAGE%"), QLatin1String("en_US"));
    static const QStringList outside = {"cmd",      "open",       "messagebox",
                                        "question", "browsefile", "browsedir"};
    return element->Attribute("slot") && outside.contains(slot);
}

void removeOutsideActions(TiXmlNode* node)
{
    // Iterative: depth is bounded by the reader, but the harness need not rely on it.
    QList<TiXmlNode*> pending{node};
    while (!pending.isEmpty())
    {
        TiXmlNode* current = pending.takeLast();
        TiXmlElement* child = current->FirstChildElement();
        while (child)
        {
            TiXmlElement* next = child->NextSiblingElement();
            if (isOutsideAction(child))
                current->RemoveChild(child);
            else
                pending.append(child);
            child = next;
        }
    }
}
// The deepest element nesting TinyXML actually built.
int documentDepth(const TiXmlNode* document)
{
    int deepest = 0;
    QList<QPair<const TiXmlElement*, int>> pending;
    for (const TiXmlElement* e = document->FirstChildElement(); e; e = e->NextSiblingElement())
        pending.append({e, 1});
    while (!pending.isEmpty())
    {
        const auto [element, depth] = pending.takeLast();
        deepest = qMax(deepest, depth);
        for (const TiXmlElement* e = element->FirstChildElement(); e; e = e->NextSiblingElement())
            pending.append({e, depth + 1});
    }
    return deepest;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Kept for the whole run and never destroyed: Qt's platform objects stay
    // reachable, so the leak checker reports only what the inputs leak.
    static QApplication* application = new QApplication(*argc, *argv);
    Q_UNUSED(application);
    static CFuzzFactory factory;
    // Begin/end tracing of every object would only slow the search down.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CXmlObject::m_gCurrentXmlVersion = std::wstring(L"1.8");
    CXmlContainer::m_pStaticWidgetFactory = &factory;
    // Load fonts and styles once, so their caches do not count against the first input.
    QLabel warmUp(QStringLiteral("Warm up"));
    warmUp.sizeHint();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TiXmlDocument document;
    QString error;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    if (CXmlDefinitionReader::read(bytes, document, error) != 0)
    {
        if (error.isEmpty())
            std::abort(); // a failure must always say why
        return 0;
    }
    // The reader's pre-scan must never see less nesting than TinyXML builds,
    // or the limit that protects the stack could be slipped past.
    if (documentDepth(&document) > CXmlDefinitionReader::nestingDepth(bytes))
        std::abort();
    removeOutsideActions(&document);
    {
        CFuzzRoot root;
        if (root.parse(document.RootElement(), error) == 0)
            root.init(error);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
