#include "PageIndex.h"

#include "IndexDelegate.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStandardItemModel>
#include <QTimer>

CPageIndex::CPageIndex(CXmlObject* parentObject, QWidget* parentWidget)
    : QTreeView(parentWidget), CIndexGroup(parentObject), m_pModel(new QStandardItemModel(this)),
      m_pDelegate(new CIndexDelegate(this))
{
    QTreeView::setModel(m_pModel);
    setItemDelegate(m_pDelegate);
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    // The page names are laid out the way the translation reads.
    if (QCoreApplication::translate("CPageIndex", "LTR") == QLatin1String("RTL"))
        setLayoutDirection(Qt::RightToLeft);
}

CPageIndex::~CPageIndex()
{
    // The model deletes the rows (links) it holds; they must not reach this
    // half-destroyed index through the object tree any more.
    m_pModel->clear();
}

int CPageIndex::parse(TiXmlElement* element, QString& error)
{
    QTimer::singleShot(0, this, &CPageIndex::expandAndHideHeader);
    return CIndexGroup::parse(element, error);
}

void CPageIndex::expandAndHideHeader()
{
    expandAll();
    header()->hide();
}

QStandardItem* CPageIndex::item()
{
    return m_pModel->invisibleRootItem();
}

QWidget* CPageIndex::widget() const
{
    return const_cast<CPageIndex*>(this);
}

QList<CIndexLink*> CPageIndex::findItems(const QString& text) const
{
    QList<CIndexLink*> links;
    const QList<QStandardItem*> items =
        m_pModel->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive | Qt::MatchRecursive);
    for (QStandardItem* found : items)
        links.append(CIndexLink::fromItem(found));
    return links;
}

void CPageIndex::setCurrentItem(CIndexLink* link)
{
    if (link && link->model() == m_pModel)
        setCurrentIndex(link->index());
}

CIndexLink* CPageIndex::currentLink() const
{
    return CIndexLink::fromItem(m_pModel->itemFromIndex(currentIndex()));
}

QStandardItem* CPageIndex::parentOrRoot(QStandardItem* item) const
{
    QStandardItem* const parent = item->parent();
    return parent ? parent : m_pModel->invisibleRootItem();
}

QStandardItem* CPageIndex::youngerSibling(QStandardItem* item) const
{
    if (!item || item == m_pModel->invisibleRootItem())
        return nullptr;
    QStandardItem* const parent = parentOrRoot(item);
    const int row = item->row() + 1;
    return row < parent->rowCount() ? parent->child(row) : nullptr;
}

QStandardItem* CPageIndex::olderSibling(QStandardItem* item) const
{
    if (!item || item == m_pModel->invisibleRootItem())
        return nullptr;
    QStandardItem* const parent = parentOrRoot(item);
    const int row = item->row() - 1;
    return row >= 0 ? parent->child(row) : nullptr;
}

QStandardItem* CPageIndex::youngestChild(QStandardItem* item) const
{
    while (item && item->rowCount() > 0)
        item = item->child(item->rowCount() - 1);
    return item;
}

bool CPageIndex::itemHasPage(QStandardItem* item) const
{
    // The invisible root is no row, whatever the "index" element names.
    if (item == m_pModel->invisibleRootItem())
        return false;
    const CIndexLink* const link = CIndexLink::fromItem(item);
    return link && link->page();
}

int CPageIndex::walkLimit() const
{
    // Every row is passed at most twice (once as a row, once as a parent) before
    // a walk has gone round the whole tree.
    int rows = 0;
    QList<QStandardItem*> pending{m_pModel->invisibleRootItem()};
    while (!pending.isEmpty())
    {
        QStandardItem* const item = pending.takeLast();
        rows += item->rowCount();
        for (int i = 0; i < item->rowCount(); ++i)
            pending.append(item->child(i));
    }
    return 2 * rows + 2;
}

QStandardItem* CPageIndex::findNextPage(QStandardItem* item) const
{
    if (!item)
        return nullptr;
    QStandardItem* const root = m_pModel->invisibleRootItem();
    // A tree without any page would walk round for ever.
    for (int steps = walkLimit(); steps > 0; --steps)
    {
        QStandardItem* next = item->rowCount() > 0 ? item->child(0) : youngerSibling(item);
        if (!next && item != root)
            next = youngerSibling(parentOrRoot(item));
        if (!next)
            next = root;
        if (itemHasPage(next))
            return next;
        item = next;
    }
    return nullptr;
}

QStandardItem* CPageIndex::findPreviousPage(QStandardItem* item) const
{
    if (!item)
        return nullptr;
    QStandardItem* const root = m_pModel->invisibleRootItem();
    for (int steps = walkLimit(); steps > 0; --steps)
    {
        QStandardItem* previous = olderSibling(item);
        if (!previous && item != root)
            previous = olderSibling(parentOrRoot(item));
        if (!previous)
            previous = root;
        previous = youngestChild(previous);
        if (itemHasPage(previous))
            return previous;
        item = previous;
    }
    return nullptr;
}

void CPageIndex::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    QStandardItem* const currentItem = m_pModel->itemFromIndex(current);
    QStandardItem* target = itemHasPage(currentItem) ? currentItem : findNextPage(currentItem);
    if (target)
    {
        if (target != currentItem)
        {
            // The nested change announces the page.
            setCurrentIndex(target->index());
            return;
        }
        emit itemChanged(CIndexLink::fromItem(target));
        return;
    }
    if (previous.isValid() && previous != current)
        setCurrentIndex(previous);
}

void CPageIndex::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Down && event->key() != Qt::Key_Up)
    {
        QTreeView::keyPressEvent(event);
        return;
    }
    event->accept();
    QStandardItem* current = m_pModel->itemFromIndex(currentIndex());
    if (!current)
        current = m_pModel->invisibleRootItem();
    QStandardItem* const target =
        event->key() == Qt::Key_Down ? findNextPage(current) : findPreviousPage(current);
    if (target)
        setCurrentIndex(target->index());
}

void CPageIndex::drawBranches(QPainter* /*painter*/, const QRect& /*rect*/,
                              const QModelIndex& /*index*/) const
{
    // No branch lines or expand arrows: the tree is always fully expanded.
}
