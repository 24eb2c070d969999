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
#include <QSet>
#include <QStack>
#include <QStandardItemModel>

namespace
{
// A text of several lines with each line escaped: what publishing writes keeps its
// line breaks, but nothing in it can turn the text around or hide a part.
QString shownLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = CShownText::escaped(line);
    return lines.join(QLatin1Char('\n'));
}

// Larger than any customization Tessary opens.
const qint64 kMaxCustomizationBytes = 8 * 1024 * 1024;
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
        // The installer's digest takes long: the review fills it in from a worker.
        report.m_sSourcePath = CShownText::escaped(QDir::toNativeSeparators(source));
    }
    const QFileInfo& customization = document.configurationFile();
    if (document.configurationIsCustomization() && !customization.filePath().isEmpty())
    {
        const QFileInfo file(customization.absoluteFilePath());
        report.m_sCustomizationPath =
            CShownText::escaped(QDir::toNativeSeparators(file.absoluteFilePath()));
        report.m_sCustomizationDigest =
            !file.isFile() ? QCoreApplication::translate("CReviewCollector", "not available (the "
                                                                             "file is gone)")
            : file.size() > kMaxCustomizationBytes
                ? QCoreApplication::translate("CReviewCollector",
                                              "not computed (the file is larger than %1 MB)")
                      .arg(kMaxCustomizationBytes / (1024 * 1024))
                : CReviewReport::sha256Of(file.absoluteFilePath());
        if (report.m_sCustomizationDigest.isEmpty())
            report.m_sCustomizationDigest = QCoreApplication::translate(
                "CReviewCollector", "not available (the file cannot be read)");
    }
    report.m_sToolVersion = QStringLiteral(TESSARY_VERSION_STRING);
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
    // Publishing asks for the secrets a customization was saved without: they have
    // rows of their own although they hold their defaults.
    const QList<CXmlObject*> missing = document.missingSecrets();
    const QSet<const CXmlObject*> asked(missing.constBegin(), missing.constEnd());
    for (CPage* page : pages)
    {
        for (CXmlObject* object : propertiesOn(page))
        {
            const bool isAsked = asked.contains(object);
            if (!isAsked && !defaults.differs(object))
                continue;
            CReviewReport::CEntry entry;
            entry.m_sPage = CShownText::escaped(
                page->windowTitle().isEmpty() ? page->name() : page->windowTitle());
            entry.m_sLabel = CShownText::escaped(labelOf(object));
            entry.m_sProperty = CShownText::escaped(object->property());
            entry.m_sDefault = shown(object, defaults.defaultOf(object));
            entry.m_sValue =
                isAsked ? QCoreApplication::translate("CReviewCollector", "not set – asked when "
                                                                          "publishing")
                        : shown(object, object->getValue());
            report.m_lEntries.append(entry);
            if (rows)
                rows->append({page, object});
        }
    }
    const CPropertyText::Properties properties = shownProperties(document);
    report.m_sShellText = shownLines(CPropertyText::shellText(properties));
    report.m_sJavaScriptText = shownLines(CPropertyText::javaScriptText(properties));
    for (const QString& line : CCheckResults::lines())
        report.m_lCheckResults << CShownText::escaped(line);
    return report;
}
