#include "FieldReset.h"

#include "UndoHistory.h"

#include "shared/XmlWidgets/BitMask.h"
#include "shared/XmlWidgets/ButtonGroup.h"
#include "shared/XmlWidgets/CheckBox.h"
#include "shared/XmlWidgets/ComboBox.h"
#include "shared/XmlWidgets/LineEdit.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/SpinBox.h"
#include "shared/XmlWidgets/TextEdit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPair>
#include <QPointer>
#include <QStackedWidget>
#include <QWidget>

namespace
{
// The buttons of a group, when every one of them takes clicks.
bool groupEnabled(const QButtonGroup* group)
{
    const QList<QAbstractButton*> buttons = group->buttons();
    if (buttons.isEmpty())
        return false;
    for (const QAbstractButton* button : buttons)
    {
        if (!button->isEnabled())
            return false;
    }
    return true;
}

// The objects of the subtree, without recursion (trees come from untrusted
// definitions), each before its children.
QList<CXmlObject*> subtree(const CXmlObject* top)
{
    QList<CXmlObject*> objects;
    QList<CXmlObject*> pending{const_cast<CXmlObject*>(top)};
    while (!pending.isEmpty())
    {
        CXmlObject* const object = pending.takeFirst();
        objects.append(object);
        pending = object->childObjects() + pending;
    }
    return objects;
}
} // namespace

CFieldReset::CFieldReset(CUndoHistory& history, QObject* parent)
    : QObject(parent), m_history(history)
{
}

void CFieldReset::definitionLoaded(CXmlObject& root, QWidget* holder)
{
    m_freshValues.clear();
    for (const CXmlObject* object : subtree(&root))
    {
        if (isResettable(object) || dynamic_cast<const QButtonGroup*>(object))
            m_freshValues.insert(object, object->getValue());
    }
    if (m_pHolder != holder)
    {
        m_pHolder = holder;
        if (holder)
            holder->installEventFilter(this);
    }
    if (!holder)
        return;
    for (QWidget* const widget : holder->findChildren<QWidget*>())
    {
        if (!fieldOf(widget))
            continue;
        widget->installEventFilter(this);
        // A text field's menu is asked for on its viewport, where the mouse is.
        if (QAbstractScrollArea* const area = qobject_cast<QAbstractScrollArea*>(widget))
            area->viewport()->installEventFilter(this);
    }
}

void CFieldReset::forget()
{
    m_freshValues.clear();
}

bool CFieldReset::isResettable(const CXmlObject* field)
{
    if (const auto* group = dynamic_cast<const CButtonGroup*>(field))
        return groupEnabled(group);
    if (const auto* mask = dynamic_cast<const CBitMask*>(field))
        return groupEnabled(mask);
    if (const auto* box = dynamic_cast<const CCheckBox*>(field))
        return box->isEnabled() && !dynamic_cast<const CXmlObject*>(box->group());
    if (const auto* line = dynamic_cast<const CLineEdit*>(field))
        return line->isEnabled() && !line->isReadOnly();
    if (const auto* text = dynamic_cast<const CTextEdit*>(field))
        return text->isEnabled() && !text->isReadOnly();
    if (const auto* spin = dynamic_cast<const CSpinBox*>(field))
        return spin->isEnabled() && !spin->isReadOnly();
    if (const auto* combo = dynamic_cast<const CComboBox*>(field))
        return combo->isEnabled();
    return false;
}

bool CFieldReset::resetValue(const CXmlObject* field, QString& value) const
{
    if (!field)
        return false;
    if (field->hasDefault())
    {
        value = field->getDefaultValue();
        return true;
    }
    const auto fresh = m_freshValues.constFind(field);
    if (fresh == m_freshValues.constEnd())
        return false;
    value = fresh.value();
    return true;
}

bool CFieldReset::differs(const CXmlObject* field) const
{
    QString value;
    return isResettable(field) && resetValue(field, value) && field->getValue() != value;
}

bool CFieldReset::resetField(CXmlObject* field)
{
    if (!differs(field))
        return false;
    QString value;
    resetValue(field, value);
    m_history.recordPending();
    CUndoHistory::setAsUser(field, value);
    m_history.recordPending(tr("Reset of %1").arg(CUndoHistory::caption(field)));
    return true;
}

int CFieldReset::resetPage(CXmlObject* page)
{
    if (!page)
        return 0;
    m_history.recordPending();
    // The fields as the administrator sees them now: a field that a reset's action
    // enables or disables is left as that action leaves it.
    QList<QPair<CXmlObject*, QPointer<QObject>>> fields;
    for (CXmlObject* const field : subtree(page))
    {
        if (differs(field))
            fields.append({field, dynamic_cast<QObject*>(field)});
    }
    int count = 0;
    for (const auto& field : qAsConst(fields))
    {
        QString value;
        if (field.second && resetValue(field.first, value))
        {
            CUndoHistory::setAsUser(field.first, value);
            ++count;
        }
    }
    const CPage* const shown = dynamic_cast<const CPage*>(page);
    const QString title =
        shown && !shown->windowTitle().isEmpty() ? shown->windowTitle() : page->name();
    m_history.recordPending(tr("Reset of page %1").arg(title));
    return count;
}

bool CFieldReset::pageDiffers(const CXmlObject* page) const
{
    if (!page)
        return false;
    for (const CXmlObject* const field : subtree(page))
    {
        if (differs(field))
            return true;
    }
    return false;
}

bool CFieldReset::pageHasFields(const CXmlObject* page)
{
    for (const CXmlObject* const field : subtree(page))
    {
        if (isResettable(field))
            return true;
    }
    return false;
}

CXmlObject* CFieldReset::fieldOf(QWidget* widget)
{
    if (!widget)
        return nullptr;
    const QAbstractButton* const button = qobject_cast<QAbstractButton*>(widget);
    if (CXmlObject* const group = button ? dynamic_cast<CXmlObject*>(button->group()) : nullptr)
        return group;
    CXmlObject* const field = dynamic_cast<CXmlObject*>(widget);
    const bool valued = dynamic_cast<CLineEdit*>(field) || dynamic_cast<CCheckBox*>(field) ||
                        dynamic_cast<CTextEdit*>(field) || dynamic_cast<CSpinBox*>(field) ||
                        dynamic_cast<CComboBox*>(field);
    return valued ? field : nullptr;
}

CXmlObject* CFieldReset::pageOf(QWidget* widget) const
{
    for (QWidget* parent = widget; parent && parent != m_pHolder; parent = parent->parentWidget())
    {
        if (CPage* const page = qobject_cast<CPage*>(parent))
            return page;
    }
    return nullptr;
}

QMenu* CFieldReset::createContextMenu(QWidget* widget)
{
    // The page's background passes its menu request on up to the holder.
    const QStackedWidget* const stack = qobject_cast<QStackedWidget*>(m_pHolder);
    CXmlObject* const page =
        pageOf(widget && widget == m_pHolder && stack ? stack->currentWidget() : widget);
    if (!page)
        return nullptr;
    CXmlObject* const field = fieldOf(widget);
    if (!field && !pageHasFields(page))
        return nullptr;
    QMenu* menu = nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        menu = line->createStandardContextMenu();
    else if (auto* own = qobject_cast<CTextEdit*>(widget))
        menu = own->createContextMenu(QPoint());
    else if (auto* text = qobject_cast<QPlainTextEdit*>(widget))
        menu = text->createStandardContextMenu();
    else
        menu = new QMenu(widget);
    if (!menu->isEmpty())
        menu->addSeparator();
    if (field)
    {
        QAction* const resetAction = menu->addAction(tr("Reset to &Default"));
        resetAction->setEnabled(differs(field));
        const QPointer<QObject> guard(widget);
        connect(resetAction, &QAction::triggered, this,
                [this, field, guard]
                {
                    if (guard)
                        resetField(field);
                });
    }
    QAction* const pageAction = menu->addAction(tr("Reset Pa&ge to Defaults"));
    pageAction->setEnabled(pageDiffers(page));
    const QPointer<QObject> pageGuard(dynamic_cast<QObject*>(page));
    connect(pageAction, &QAction::triggered, this,
            [this, page, pageGuard]
            {
                if (pageGuard)
                    resetPage(page);
            });
    return menu;
}

bool CFieldReset::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ContextMenu)
        return QObject::eventFilter(watched, event);
    QWidget* widget = qobject_cast<QWidget*>(watched);
    if (QAbstractScrollArea* const area =
            widget ? qobject_cast<QAbstractScrollArea*>(widget->parentWidget()) : nullptr)
    {
        if (area->viewport() == widget && fieldOf(area))
            widget = area;
    }
    QMenu* const menu = createContextMenu(widget);
    if (!menu)
        return QObject::eventFilter(watched, event);
    const QPointer<QMenu> shown(menu);
    menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
    delete shown.data();
    return true;
}
