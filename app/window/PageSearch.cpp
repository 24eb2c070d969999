#include "PageSearch.h"

#include "AdminPage.h"
#include "app/document/SecretProperty.h"
#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/review/PropertyLabel.h"
#include "app/review/ReviewCollector.h"

#include "shared/XmlWidgets/ComboBox.h"
#include "shared/XmlWidgets/ComboBoxItem.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlWidget.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGraphicsColorizeEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
const char* const MatchProperty = "searchMatch";

bool holds(const QString& caption, const QString& text)
{
    return !caption.isEmpty() &&
           (CPropertyLabel::plainCaption(caption).contains(text, Qt::CaseInsensitive) ||
            caption.contains(text, Qt::CaseInsensitive));
}

// Whether what widget shows (caption, entries, its help text) holds text.
bool shows(const QWidget* widget, const QString& text)
{
    if (const CXmlWidget* const own = dynamic_cast<const CXmlWidget*>(widget))
    {
        if (holds(own->getTessaryDetails(), text))
            return true;
    }
    if (holds(widget->toolTip(), text))
        return true;
    if (const QLabel* label = qobject_cast<const QLabel*>(widget))
        return holds(label->text(), text);
    if (const QAbstractButton* button = qobject_cast<const QAbstractButton*>(widget))
        return holds(button->text(), text);
    if (const QComboBox* combo = qobject_cast<const QComboBox*>(widget))
    {
        const CComboBox* const own = dynamic_cast<const CComboBox*>(combo);
        for (int i = 0; i < combo->count(); ++i)
        {
            if (holds(combo->itemText(i), text))
                return true;
            // An entry's own help text.
            if (const CComboBoxItem* const entry = own ? own->entryAt(i) : nullptr)
            {
                if (holds(entry->getTessaryDetails(), text))
                    return true;
            }
        }
    }
    return false;
}
// Whether property's name or current value holds text. A secret's value is never
// looked at: which searches find it would tell what it holds.
bool propertyHolds(const CXmlObject* object, const QString& text)
{
    return object->property().contains(text, Qt::CaseInsensitive) ||
           (!CSecretProperty::isSecret(object) &&
            object->getValue().contains(text, Qt::CaseInsensitive));
}
} // namespace

CPageSearch::CPageSearch(CAdminPage* window) : QLineEdit(window), m_pWindow(window)
{
    setObjectName(QStringLiteral("pageSearch"));
    setPlaceholderText(tr("Search settings"));
    setAccessibleName(placeholderText());
    setClearButtonEnabled(true);
    setToolTip(tr("Shows only the pages that mention this text (Ctrl+F)."));

    // Above the index, in the index's place in the splitter.
    CPageIndex* const index = window->pageIndex();
    if (QSplitter* const splitter = qobject_cast<QSplitter*>(index->parentWidget()))
    {
        QWidget* const pane = new QWidget(splitter);
        QVBoxLayout* const layout = new QVBoxLayout(pane);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        const int at = splitter->indexOf(index);
        layout->addWidget(this);
        layout->addWidget(index, 1);
        splitter->insertWidget(at, pane);
        splitter->setStretchFactor(at, 1);
    }

    QShortcut* const find = new QShortcut(QKeySequence::Find, window);
    connect(find, &QShortcut::activated, this,
            [this]
            {
                setFocus(Qt::ShortcutFocusReason);
                selectAll();
            });
    connect(this, &QLineEdit::textChanged, this, &CPageSearch::applyFilter);
    index->installEventFilter(this);
    connect(window->pageHolder(), &CPageHolder::pageChanged, this,
            &CPageSearch::highlightShownPage);

    // In the page holder's place while nothing matches, rather than a page that has
    // nothing of what was asked for.
    CPageHolder* const holder = window->pageHolder();
    m_pNoMatch = new QLabel(tr("No settings match"), holder->parentWidget());
    m_pNoMatch->setObjectName(QStringLiteral("noSettingsMatch"));
    m_pNoMatch->setAlignment(Qt::AlignCenter);
    m_pNoMatch->setAutoFillBackground(true);
    m_pNoMatch->hide();
    if (QSplitter* const splitter = qobject_cast<QSplitter*>(holder->parentWidget()))
    {
        const int at = splitter->indexOf(holder);
        splitter->insertWidget(at + 1, m_pNoMatch);
        splitter->setStretchFactor(at + 1, 1);
    }
    // A page that is asked for (by an action, say) is shown whatever the search.
    connect(holder, &CPageHolder::pageChanged, this, [this] { showNoMatch(false); });
    // A new document brings new rows: they are filtered once they are all there.
    connect(index->indexModel(), &QStandardItemModel::rowsInserted, this,
            [this] { QTimer::singleShot(0, this, &CPageSearch::applyFilter); });
}

bool CPageSearch::pageMatches(const CPage* page, const QString& text)
{
    if (!page || text.isEmpty())
        return true;
    if (holds(page->windowTitle(), text))
        return true;
    for (const CXmlObject* object : CReviewCollector::propertiesOn(page))
    {
        if (propertyHolds(object, text))
            return true;
    }
    const QList<QWidget*> widgets = page->findChildren<QWidget*>();
    for (const QWidget* widget : widgets)
    {
        // A hidden note would lead to a page that shows nothing of what was asked.
        if (widget->isVisibleTo(page) && shows(widget, text))
            return true;
    }
    return false;
}

QList<QWidget*> CPageSearch::matchingWidgets(const CPage* page, const QString& text)
{
    QList<QWidget*> found;
    if (!page || text.isEmpty())
        return found;
    const QList<QWidget*> widgets = page->findChildren<QWidget*>();
    for (QWidget* widget : widgets)
    {
        // The page's own heading names the page, not a setting.
        const QLabel* const label = qobject_cast<const QLabel*>(widget);
        if (label && label->objectName() == QLatin1String("h1") &&
            label->text() == page->windowTitle())
            continue;
        if (widget->isVisibleTo(page) && shows(widget, text))
            found.append(widget);
    }
    for (const CXmlObject* object : CReviewCollector::propertiesOn(page))
    {
        if (!propertyHolds(object, text))
            continue;
        QWidget* const widget = CPropertyLabel::widgetOf(object);
        if (widget && !found.contains(widget))
            found.append(widget);
    }
    return found;
}

void CPageSearch::showNoMatch(bool shown)
{
    if (m_pNoMatch->isHidden() == !shown)
        return;
    m_pNoMatch->setVisible(shown);
    m_pWindow->pageHolder()->setVisible(!shown);
}

void CPageSearch::applyFilter()
{
    const QString query = text().trimmed();
    CPageIndex* const index = m_pWindow->pageIndex();
    // The page in view when a search starts is the one its end goes back to.
    if (!query.isEmpty() && !m_bSearching)
        m_before = index->currentIndex();
    const bool ended = query.isEmpty() && m_bSearching;
    m_bSearching = !query.isEmpty();
    const bool anyShown = filterRows(index->indexModel()->invisibleRootItem(), query);
    showNoMatch(!query.isEmpty() && !anyShown);
    if (ended && m_before.isValid())
        index->setCurrentIndex(m_before);
    // The shown page is one that matches, when there is one.
    CIndexLink* const current = index->currentLink();
    if (!query.isEmpty() && !(current && current->page() && pageMatches(current->page(), query)))
    {
        // The first matching page in the order rows are shown.
        QList<QStandardItem*> pending{index->indexModel()->invisibleRootItem()};
        while (!pending.isEmpty())
        {
            QStandardItem* const next = pending.takeFirst();
            CIndexLink* const link = CIndexLink::fromItem(next);
            if (link && link->page() && pageMatches(link->page(), query))
            {
                index->setCurrentItem(link);
                break;
            }
            QList<QStandardItem*> children;
            for (int row = 0; row < next->rowCount(); ++row)
            {
                if (!index->isRowHidden(row, next->index()))
                    children.append(next->child(row));
            }
            pending = children + pending;
        }
    }
    highlightShownPage();
}

bool CPageSearch::filterRows(QStandardItem* parent, const QString& text)
{
    CPageIndex* const index = m_pWindow->pageIndex();
    bool anyShown = false;
    for (int row = 0; row < parent->rowCount(); ++row)
    {
        QStandardItem* const item = parent->child(row);
        const CIndexLink* const link = CIndexLink::fromItem(item);
        const bool childShown = filterRows(item, text);
        const bool matches = text.isEmpty() || holds(item->text(), text) ||
                             (link && link->page() && pageMatches(link->page(), text));
        const bool shown = matches || childShown;
        index->setRowHidden(row, parent->index(), !shown);
        anyShown = anyShown || shown;
    }
    return anyShown;
}

void CPageSearch::clearHighlights()
{
    for (const QPointer<QWidget>& widget : qAsConst(m_lHighlighted))
    {
        if (!widget)
            continue;
        widget->setProperty(MatchProperty, QVariant());
        if (qobject_cast<QGraphicsColorizeEffect*>(widget->graphicsEffect()))
            widget->setGraphicsEffect(nullptr);
    }
    m_lHighlighted.clear();
}

void CPageSearch::highlightShownPage()
{
    clearHighlights();
    const QString query = text().trimmed();
    CPage* const page = qobject_cast<CPage*>(m_pWindow->pageHolder()->currentWidget());
    if (query.isEmpty() || !page)
        return;
    for (QWidget* widget : matchingWidgets(page, query))
    {
        widget->setProperty(MatchProperty, true);
        if (!widget->graphicsEffect())
        {
            QGraphicsColorizeEffect* const effect = new QGraphicsColorizeEffect(widget);
            effect->setColor(QColor(255, 170, 0));
            effect->setStrength(0.6);
            widget->setGraphicsEffect(effect);
        }
        m_lHighlighted.append(widget);
    }
}

void CPageSearch::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !text().isEmpty())
    {
        clear();
        event->accept();
        return;
    }
    // Down or Return goes on to the first page that matches.
    const int key = event->key();
    if ((key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        !text().trimmed().isEmpty())
    {
        const QList<CIndexLink*> links = shownPages();
        if (!links.isEmpty())
        {
            m_pWindow->pageIndex()->setCurrentItem(links.first());
            m_pWindow->pageIndex()->setFocus(Qt::TabFocusReason);
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

QList<CIndexLink*> CPageSearch::shownPages() const
{
    QList<CIndexLink*> links;
    CPageIndex* const index = m_pWindow->pageIndex();
    QList<QStandardItem*> pending{index->indexModel()->invisibleRootItem()};
    while (!pending.isEmpty())
    {
        QStandardItem* const item = pending.takeFirst();
        CIndexLink* const link = CIndexLink::fromItem(item);
        if (link && link->page())
            links.append(link);
        QList<QStandardItem*> children;
        for (int row = 0; row < item->rowCount(); ++row)
        {
            if (!index->isRowHidden(row, item->index()))
                children.append(item->child(row));
        }
        pending = children + pending;
    }
    return links;
}

bool CPageSearch::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_pWindow->pageIndex() || event->type() != QEvent::KeyPress ||
        text().trimmed().isEmpty())
        return QLineEdit::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down)
        return QLineEdit::eventFilter(watched, event);
    const QList<CIndexLink*> links = shownPages();
    if (!links.isEmpty())
    {
        const int at = links.indexOf(m_pWindow->pageIndex()->currentLink());
        const int step = key == Qt::Key_Down ? 1 : -1;
        const int next = at < 0 ? 0 : (at + step + links.size()) % links.size();
        m_pWindow->pageIndex()->setCurrentItem(links.at(next));
    }
    return true;
}
