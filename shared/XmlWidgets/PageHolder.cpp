#include "PageHolder.h"

#include "Page.h"

#include <QDebug>
#include <QIcon>
#include <tinyxml.h>

CPageHolder::CPageHolder(CXmlObject* parentObject, QWidget* parentWidget)
    : QStackedWidget(parentWidget), CXmlContainer(parentObject)
{
    // The main window receives pageAdded queued, which needs the type registered.
    qRegisterMetaType<CPage*>("CPage*");
    connect(this, &QStackedWidget::currentChanged, this, &CPageHolder::onPageChanged);
}

CPageHolder::~CPageHolder()
{
    // Pages go with the stack; their removal must not reach the receivers any more.
    disconnect(this, &QStackedWidget::currentChanged, this, &CPageHolder::onPageChanged);
}

int CPageHolder::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlContainer::parse(element, error);
    if (result != ParseSuccess)
        return result;
    if (const char* icon = element->Attribute("icon"))
        setWindowIcon(QIcon(QString::fromUtf8(icon)));
    setWindowTitle(translate(element->Attribute("title")));
    return ParseSuccess;
}

CXmlWidget* CPageHolder::createWidget(const QString& name, QString& error)
{
    if (name == QLatin1String("page"))
        return new CPage(this, this);
    error = tr("Page holder can only contain \"page\" elements, not %1.").arg(name);
    return nullptr;
}

int CPageHolder::addWidget(const QString& name, CXmlWidget* object, TiXmlElement* /*element*/,
                           QString& /*error*/)
{
    CPage* const page = dynamic_cast<CPage*>(object);
    if (name != QLatin1String("page") || !page)
        return ParseSkip;
    addPage(page);
    return ParseSuccess;
}

void CPageHolder::changeNotification(CXmlObject* child, CXmlObject* source)
{
    if (CPage* const page = dynamic_cast<CPage*>(child))
        emit pageModified(page);
    CXmlContainer::changeNotification(child, source);
}

QWidget* CPageHolder::widget() const
{
    return const_cast<CPageHolder*>(this);
}

void CPageHolder::setActivePage(CPage* page)
{
    const QString pageName = page ? page->name() : QString();
    qDebug().noquote() << "CPageHolder::setActivePage(" + pageName + ") begin";
    if (page && indexOf(page) >= 0 && currentWidget() != page)
    {
        setCurrentWidget(page);
        emit pageChanged(page);
    }
    qDebug().noquote() << "CPageHolder::setActivePage(" + pageName + ") end";
}

void CPageHolder::addPage(CPage* page)
{
    if (!page)
        return;
    QStackedWidget::addWidget(page);
    emit pageAdded(page);
}

CPage* CPageHolder::activePage() const
{
    return qobject_cast<CPage*>(currentWidget());
}

CPage* CPageHolder::pageAt(int index) const
{
    return qobject_cast<CPage*>(QStackedWidget::widget(index));
}

void CPageHolder::onPageChanged(int iIndex)
{
    CPage* const page = pageAt(iIndex);
    // An emptied stack (index -1) has no page to announce.
    if (!page)
        return;
    const QString pageName = page->objectName();
    qDebug().noquote() << "CPageHolder::onPageChanged(" + pageName + ") begin";
    emit pageChanged(page);
    qDebug().noquote() << "CPageHolder::onPageChanged(" + pageName + ") end";
}
