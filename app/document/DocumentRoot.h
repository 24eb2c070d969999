#pragma once

#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlValidator.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

class CActionItem;
class CPageHolder;
class CPageIndex;
class QWidget;

// The root of a document's page tree, whichever view holds it: the main window, or
// a widget nobody sees for the command line. The page definition's root element is
// parsed into it, and it is the framework's element filter while a definition
// loads. What the root element and its filters mean is decided here once; the view
// only says where its page holder and index are and how it shows a title or icon.
class CDocumentRoot : public CXmlContainer, public CXmlValidator
{
public:
    explicit CDocumentRoot(CXmlContainer* parentContainer = nullptr);
    ~CDocumentRoot() override;

    // The root element: needs "version"; then the icon and the document title.
    int parse(TiXmlElement* element, QString& error) override;
    // "quit" asks the view to close, "cancelpublish" stops a publish.
    bool performAction(const QString& slot, const CActionItem* action) override;
    // "index" and "pageholder" are the view's own, already built.
    CXmlWidget* createWidget(const QString& type, QString& error) override;
    int addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* element,
                  QString& error) override;
    // "validate" actions are kept to run when a publish starts.
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    // Ignored while a document loads; otherwise passed on and told to the view.
    void changeNotification(CXmlObject* pChild, CXmlObject* pChangedObject) override;
    // Filters elements by "package" (the package's OS) and "showflag" (the options).
    int validateXml(TiXmlElement* element, QString& error) override;

    virtual CPageHolder* pageHolder() const = 0;
    virtual CPageIndex* pageIndex() const = 0;

    // The installer's system ("mac", "linux"; empty: this computer's) and the
    // lower-cased start-up options, for the filters.
    const QString& packageOS() const { return m_sPackageOS; }
    void setPackageOS(const QString& os) { m_sPackageOS = os; }
    const QStringList& options() const { return m_lOptions; }
    void setOptions(const QStringList& options) { m_lOptions = options; }

    // The root element's translated "title"; empty without a document.
    const QString& documentTitle() const { return m_sDocumentTitle; }
    // While set, changes are not notifications (values being loaded).
    bool isLoading() const { return m_bLoading; }
    void setLoading(bool loading) { m_bLoading = loading; }
    // Cleared by "cancelpublish".
    bool publishAllowed() const { return m_bPublishAllowed; }
    void setPublishAllowed(bool allowed) { m_bPublishAllowed = allowed; }

    // The document's "validate" actions in definition order.
    QList<CActionItem*> validateActions() const;
    // Runs them as a publish does; afterwards publishAllowed() tells the outcome.
    virtual void runValidateActions();

    // Takes the last document down: its pages and index rows go, its title, and
    // whatever its definition put on the root, the holder and the index. The view's own pages and
    // rows (those there when keepBuiltState() was called) stay.
    void clearDocument();

protected:
    // Remembers what the view built before any document: its pages and index rows,
    // and the attributes a definition may change on these widgets.
    void keepBuiltState(const QList<QWidget*>& widgets);
    // The definition's icon; an empty path: the view's own again.
    virtual void showDocumentIcon(const QString& path);
    virtual void documentTitleChanged();
    // The last document is gone (clearDocument).
    virtual void documentCleared();
    // A value of the document changed (source is the changed object).
    virtual void documentChanged(CXmlObject* source);
    virtual void quitRequested();

private:
    void deleteRetiredPages();

    QString m_sPackageOS;
    QStringList m_lOptions;
    QString m_sDocumentTitle;
    bool m_bLoading = false;
    bool m_bPublishAllowed = true;
    QList<QPointer<CActionItem>> m_lValidateActions;
    struct CBuiltWidget
    {
        QPointer<QWidget> widget;
        QString objectName;
        QString styleSheet;
        bool enabled;
        bool hidden;
    };
    QList<CBuiltWidget> m_lBuiltWidgets;
    int m_iBuiltPages = 0;
    int m_iBuiltRows = 0;
    // Pages of a replaced document kept until the actions running then have returned.
    QList<QPointer<QWidget>> m_lRetiredPages;
};
