#pragma once

#include "shared/XmlWidgets/XmlContainer.h"

#include <QMetaType>
#include <QStandardItem>

class CPage;

// One row of the page index, linking to a page by name. The row is the link
// itself; it has no widget of its own.
class CIndexLink : public QStandardItem, public CXmlContainer
{
public:
    enum Role
    {
        LinkRole = Qt::UserRole + 1,    // the CIndexLink* of the row
        PageNameRole = Qt::UserRole + 2 // the linked page's name
    };

    explicit CIndexLink(CXmlObject* parentObject);
    ~CIndexLink() override;

    // "page" (converted) and "title" (translated), then the container parse.
    int parse(TiXmlElement* element, QString& error) override;
    // Resolves the page by its object name below the root widget.
    int initActions(QString& error) override;
    // Also forgets the linked page and the row's text.
    void discardDefinition() override;
    // A modified page turns its row bold before the notification travels on.
    void changeNotification(CXmlObject* child, CXmlObject* source) override;
    QWidget* widget() const override;

    // The item that holds this link's child rows.
    virtual QStandardItem* item();

    const QString& pageName() const { return m_sPageName; }
    void setPageName(const QString& pageName) { m_sPageName = pageName; }
    CPage* page() const { return m_pPage; }

    // The link stored in an item's LinkRole, or null.
    static CIndexLink* fromItem(const QStandardItem* item);

protected:
    // Reads "page" and "title" into this link.
    void parseLinkAttributes(TiXmlElement* element);

    QString m_sPageName;
    CPage* m_pPage = nullptr;
};

Q_DECLARE_METATYPE(CIndexLink*)
