#include "ReviewCollector.h"

#include "PropertyLabel.h"
#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/PropertyDefaults.h"
#include "app/document/SecretProperty.h"
#include "app/document/ShownText.h"
#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/validation/CheckResults.h"

#include "app/packages/Package.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStack>
#include <QStandardItemModel>

namespace
{
// Reading a large disk image takes seconds, and the review opens every publish:
// the digest of an unchanged file is read once.
QString digestOf(const QString& path)
{
    static QString s_sKey;
    static QString s_sDigest;
    const QFileInfo info(path);
    if (!info.isFile())
        return CReviewReport::sha256Of(path);
    const QString key = path + QLatin1Char('\n') + QString::number(info.size()) +
                        QLatin1Char('\n') +
                        QString::number(info.lastModified().toMSecsSinceEpoch());
    if (key != s_sKey || s_sDigest.isEmpty())
    {
        s_sDigest = CReviewReport::sha256Of(path);
        s_sKey = key;
    }
    return s_sDigest;
}
} // namespace

QString CReviewCollector::secretPlaceholder()
{
    return QStringLiteral("********");
}

QList<CPage*> CReviewCollector::pagesInIndexOrder(const CPageIndex* index,
                                                  const CPageHolder* holder)
{
    QList<CPage*> pages;
    if (index)
    {
        // Rows in the order they are shown: each before its children.
        QStack<QStandardItem*> pending;
        QStandardItem* const root = index->indexModel()->invisibleRootItem();
        for (int i = root->rowCount() - 1; i >= 0; --i)
            pending.push(root->child(i));
        while (!pending.isEmpty())
        {
            QStandardItem* const item = pending.pop();
            if (!item)
                continue;
            const CIndexLink* const link = CIndexLink::fromItem(item);
            if (link && link->page() && !pages.contains(link->page()))
                pages.append(link->page());
            for (int i = item->rowCount() - 1; i >= 0; --i)
                pending.push(item->child(i));
        }
    }
    if (holder)
    {
        for (int i = 0; i < holder->count(); ++i)
        {
            CPage* const page = qobject_cast<CPage*>(holder->QStackedWidget::widget(i));
            if (page && !pages.contains(page))
                pages.append(page);
        }
    }
    return pages;
}

QList<CXmlObject*> CReviewCollector::propertiesOn(const CPage* page)
{
    return page ? page->installationProperties() : QList<CXmlObject*>();
}

CPropertyText::Properties CReviewCollector::shownProperties(const CDocument& document)
{
    CPropertyText::Properties properties;
    const QMultiMap<QString, CXmlObject*> set = document.collectProperties(true);
    for (auto it = set.constBegin(); it != set.constEnd(); ++it)
    {
        if (CPropertyText::isPublished(it.key()))
            properties.append(qMakePair(it.key(), CSecretProperty::isSecret(it.value())
                                                      ? secretPlaceholder()
                                                      : it.value()->getValue()));
    }
    return properties;
}

CReviewReport CReviewCollector::collect(const CDocument& document, QList<CRow>* rows)
{
    CReviewReport report;
    const CPropertyDefaults& defaults = document.defaults();
    if (CPackage* const package = document.package())
    {
        // Everything shown comes from the installer or the customization: escaped, a
        // value cannot start a row of its own or turn the text after it around.
        report.m_sProduct = CShownText::escaped(package->product());
        report.m_sVersion =
            CShownText::escaped(QString::fromStdWString(package->version().toString()));
    }
    const QString source = document.sourceFile().absoluteFilePath();
    if (!document.sourceFile().filePath().isEmpty())
    {
        report.m_sSourcePath = CShownText::escaped(QDir::toNativeSeparators(source));
        report.m_sSourceDigest = digestOf(source);
    }
    report.m_sDate = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);

    const QString empty = QCoreApplication::translate("CReviewCollector", "(empty)");
    auto shown = [&](const CXmlObject* object, const QString& value)
    {
        if (CSecretProperty::isSecret(object))
            return CSecretProperty::shownValue(value);
        return value.isEmpty() ? empty : CShownText::escaped(value);
    };
    const QList<CPage*> pages =
        pagesInIndexOrder(document.root().pageIndex(), document.root().pageHolder());
    // The labels are gathered once per window, not once per field.
    QHash<const QWidget*, CPropertyLabel::Buddies> buddies;
    auto labelOf = [&](const CXmlObject* object)
    {
        const QWidget* const widget = dynamic_cast<const QWidget*>(object);
        const QWidget* const window = widget ? widget->window() : nullptr;
        if (window && !buddies.contains(window))
            buddies.insert(window, CPropertyLabel::buddiesIn(window));
        return CPropertyLabel::of(object, buddies.value(window));
    };
    for (CPage* page : pages)
    {
        for (CXmlObject* object : propertiesOn(page))
        {
            if (!defaults.differs(object))
                continue;
            CReviewReport::CEntry entry;
            entry.m_sPage = CShownText::escaped(
                page->windowTitle().isEmpty() ? page->name() : page->windowTitle());
            entry.m_sLabel = CShownText::escaped(labelOf(object));
            entry.m_sProperty = CShownText::escaped(object->property());
            entry.m_sDefault = shown(object, defaults.defaultOf(object));
            entry.m_sValue = shown(object, object->getValue());
            report.m_lEntries.append(entry);
            if (rows)
                rows->append({page, object});
        }
    }
    const CPropertyText::Properties properties = shownProperties(document);
    report.m_sShellText = CPropertyText::shellText(properties);
    report.m_sJavaScriptText = CPropertyText::javaScriptText(properties);
    for (const QString& line : CCheckResults::lines())
        report.m_lCheckResults << CShownText::escaped(line);
    return report;
}
