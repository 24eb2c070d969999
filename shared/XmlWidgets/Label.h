#pragma once

#include "XmlWidget.h"

#include <QLabel>

// A caption or picture ("label"); it has no value but can be clicked.
class CLabel : public QLabel, public CXmlWidget
{
    Q_OBJECT

public:
    CLabel(CXmlObject* parentObject, QWidget* parentWidget);
    ~CLabel() override;

    // Its own attributes ("title", "buddy", "wrap", "interaction", the element's
    // Base64 PNG image) first, then the common ones.
    int parse(TiXmlElement* element, QString& error) override;
    // Finds the buddy by object name among the parent widget's descendants, which
    // all exist only now, then the common first phase.
    int initActions(QString& error) override;
    // "click", "doubleclick".
    bool performAction(const QString& slot, const CActionItem* action) override;
    // "clicked", "doubleclicked".
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    QWidget* widget() const override;

signals:
    void mouseEnterWidget(QString qsToolTip);
    void mouseLeaveWidget();
    void clicked();
    void doubleClicked();

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QString m_sBuddy;
};
