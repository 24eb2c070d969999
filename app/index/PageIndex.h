#pragma once

#include "IndexGroup.h"

#include <QList>
#include <QTreeView>

class QStandardItemModel;
class CIndexDelegate;

// The tree of pages on the left of the main window, filled from the "index"
// element. Rows without a page (plain groups) are passed over when selecting and
// moving with the keys, and the walks wrap around at either end.
class CPageIndex : public QTreeView, public CIndexGroup
{
    Q_OBJECT

public:
    CPageIndex(CXmlObject* parentObject, QWidget* parentWidget);
    ~CPageIndex() override;

    // Schedules expanding the tree and hiding the header, then the group parse.
    int parse(TiXmlElement* element, QString& error) override;
    // The model's invisible root item: top-level rows are this group's children.
    QStandardItem* item() override;
    QWidget* widget() const override;

    QStandardItemModel* indexModel() const { return m_pModel; }

    // Links of the rows whose text is exactly text, at any level.
    QList<CIndexLink*> findItems(const QString& text) const;
    void setCurrentItem(CIndexLink* link);
    // The link of the current row, or null.
    CIndexLink* currentLink() const;

    // Tree walks over the model's items (null for none).
    QStandardItem* findNextPage(QStandardItem* item) const;
    QStandardItem* findPreviousPage(QStandardItem* item) const;
    QStandardItem* olderSibling(QStandardItem* item) const;
    QStandardItem* youngerSibling(QStandardItem* item) const;
    QStandardItem* youngestChild(QStandardItem* item) const;
    bool itemHasPage(QStandardItem* item) const;

signals:
    void itemChanged(CIndexLink* pLink);

public slots:
    // The tree is always fully open and has no header.
    void expandAndHideHeader();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

private:
    QStandardItem* parentOrRoot(QStandardItem* item) const;
    // How many steps a walk may take before it has seen every row.
    int walkLimit() const;

    QStandardItemModel* m_pModel;
    CIndexDelegate* m_pDelegate;
};
