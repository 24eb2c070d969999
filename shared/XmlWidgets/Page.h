#pragma once

#include "XmlContainer.h"

#include <QScrollArea>

class CContainer;
class CPageHolder;
class QVBoxLayout;

// A scrollable page of the page holder; its layout and widgets live in the
// page container, which widget() returns.
class CPage : public QScrollArea, public CXmlContainer
{
    Q_OBJECT

public:
    CPage(CXmlObject* parentObject, QWidget* parentWidget);
    ~CPage() override;

    // The container parse (on the page container), then the heading from "title".
    int parse(TiXmlElement* element, QString& error) override;
    // "setpage" shows this page; other slots are the common widget slots.
    bool performAction(const QString& slot, const CActionItem* action) override;
    // The page container's widget.
    QWidget* widget() const override;

    // Sets the window title and puts a heading label ("h1") above the page container.
    void setWindowTitle(const QString& title);

    CContainer* pageContainer() const { return m_pPageContainer; }
    // The holder this page belongs to, or null.
    CPageHolder* pageHolder() const;

private:
    CContainer* m_pPageContainer = nullptr;
    QVBoxLayout* m_pPageLayout = nullptr;
};
