#pragma once

#include "shared/XmlWidgets/Container.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class CPageHolder;

namespace TestSupport
{

// Stands in for the main window as the root of a page tree: a plain widget and
// container that records what reaches the root (mouse-over texts, change
// notifications). With a page holder made in advance, as the main window makes
// its own, a "pageholder" element fills that holder instead of a new one.
class CStandInRoot : public QWidget, public CXmlContainer
{
    Q_OBJECT

public:
    explicit CStandInRoot(bool holderInAdvance = false);
    ~CStandInRoot() override;

    QWidget* widget() const override;
    CXmlWidget* createWidget(const QString& name, QString& error) override;
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override;
    void onMouseOverWidgetImpl(const QString& text) override;
    void changeNotification(CXmlObject* child, CXmlObject* source) override;

    // The holder made in advance, or null.
    CPageHolder* holder() const { return m_pHolder; }

    QStringList m_lMouseOverTexts;
    // The source of every notification that reached the root, in order.
    QList<CXmlObject*> m_lNotificationSources;

private:
    CPageHolder* m_pHolder = nullptr;
};

} // namespace TestSupport
