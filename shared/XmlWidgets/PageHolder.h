#pragma once

#include "XmlContainer.h"

#include <QStackedWidget>

class CPage;

// The stack of pages of a definition; one page is visible at a time.
class CPageHolder : public QStackedWidget, public CXmlContainer
{
    Q_OBJECT

public:
    explicit CPageHolder(CXmlObject* parentObject, QWidget* parentWidget = nullptr);
    ~CPageHolder() override;

    // The container parse, then "icon" and "title" of the holder's window.
    int parse(TiXmlElement* element, QString& error) override;
    // Only "page" elements.
    CXmlWidget* createWidget(const QString& name, QString& error) override;
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override;
    // Announces the page through which the notification came, then passes it on.
    void changeNotification(CXmlObject* child, CXmlObject* source) override;
    QWidget* widget() const override;

    // Makes page the visible one (pageChanged is raised twice: once here, once
    // through the stack's own signal).
    void setActivePage(CPage* page);
    // Appends a page built outside the definition (the welcome page).
    void addPage(CPage* page);
    // The visible page, or null.
    CPage* activePage() const;
    // The page at index in the stack, or null.
    CPage* pageAt(int index) const;

signals:
    void pageAdded(CPage* pPage);
    void pageChanged(CPage* pPage);
    void pageModified(CPage* pPage);

public slots:
    void onPageChanged(int iIndex);
};
