#include "UndoHistory.h"

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/CheckBox.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPair>
#include <QPlainTextEdit>
#include <QTextDocumentFragment>
#include <QUndoStack>
#include <algorithm>

namespace
{
// Steps kept; the oldest go first.
const int UndoLimit = 500;
// Values set back may set off actions that change them again: they are put in
// place again this many times at most.
const int SettlePasses = 3;

QWidget* widgetOf(const CXmlObject* field)
{
    return dynamic_cast<QWidget*>(const_cast<CXmlObject*>(field));
}

// A caption as read: without its mnemonic marker, markup and closing colon.
QString plainCaption(QString text)
{
    if (Qt::mightBeRichText(text))
    {
        text = QTextDocumentFragment::fromHtml(text).toPlainText();
    }
    else
    {
        for (int at = text.indexOf(QLatin1Char('&')); at >= 0 && at + 1 < text.size();
             at = text.indexOf(QLatin1Char('&'), at + 1))
            text.remove(at, 1); // "&&" leaves one "&", which the next search skips
    }
    text = text.simplified();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

// Fields whose value is typed, where consecutive changes are one typing.
bool isTypedInto(const CXmlObject* field)
{
    QWidget* const widget = widgetOf(field);
    if (!widget || !(qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget) ||
                     qobject_cast<QAbstractSpinBox*>(widget)))
        return false;
    QWidget* const focus = QApplication::focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}

// Ampersands of a name shown in a menu entry are not mnemonic markers.
QString menuText(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}
} // namespace

CUndoHistory::CUndoHistory(CXmlObject& root, QObject* parent)
    : QObject(parent), m_root(root), m_pStack(new QUndoStack(this))
{
    m_pStack->setUndoLimit(UndoLimit);
    m_pUndoAction = new QAction(this);
    m_pRedoAction = new QAction(this);
    const QList<QKeySequence> undoKeys = QKeySequence::keyBindings(QKeySequence::Undo);
    m_pUndoAction->setShortcuts(undoKeys.isEmpty() ? QList<QKeySequence>{QKeySequence(tr("Ctrl+Z"))}
                                                   : undoKeys);
    // Some platforms bind Redo to Ctrl+Y alone; Ctrl+Shift+Z works everywhere here.
    QList<QKeySequence> redoKeys = QKeySequence::keyBindings(QKeySequence::Redo);
    const QKeySequence shiftZ(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    if (!redoKeys.contains(shiftZ))
        redoKeys.prepend(shiftZ);
    m_pRedoAction->setShortcuts(redoKeys);
    connect(m_pUndoAction, &QAction::triggered, this, &CUndoHistory::undo);
    connect(m_pRedoAction, &QAction::triggered, this, &CUndoHistory::redo);
    connect(m_pStack, &QUndoStack::indexChanged, this, &CUndoHistory::updateActions);
    connect(m_pStack, &QUndoStack::cleanChanged, this, &CUndoHistory::updateActions);
    connect(qApp, &QApplication::focusChanged, this, [this] { ++m_nFocusSerial; });
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &CUndoHistory::flushWhenIdle);
    updateActions();
}

CUndoHistory::~CUndoHistory()
{
    // The commands refer to this history; they go before it does.
    m_pStack->clear();
}

void CUndoHistory::noteChange(CXmlObject* source)
{
    // What changes while a step is undone or redone is looked at by apply.
    if (!source)
        return;
    // A change made while an action runs was made for the field that set it off:
    // it comes after that field's, which names the step.
    const bool direct = CActionItem::runningActions() == 0;
    // A group's value changes through its buttons: the group is looked at too.
    for (CXmlObject* object = source; object; object = object->parentObject())
    {
        bool known = false;
        for (const CPending& pending : qAsConst(m_lPending))
            known = known || pending.m_pField == object;
        if (known)
            continue;
        QObject* const guard = dynamic_cast<QObject*>(object);
        if (guard)
            m_lPending.append({object, guard, direct});
    }
    // Radio buttons and a bit mask's check boxes are not the group's children.
    const QAbstractButton* const button = qobject_cast<QAbstractButton*>(widgetOf(source));
    if (CXmlObject* const group = button ? dynamic_cast<CXmlObject*>(button->group()) : nullptr)
    {
        bool known = false;
        for (const CPending& pending : qAsConst(m_lPending))
            known = known || pending.m_pField == group;
        if (!known)
            m_lPending.append({group, button->group(), direct});
    }
    if (!m_bApplying)
        m_flushTimer.start();
}

void CUndoHistory::flushWhenIdle()
{
    // An action's dialog is open: what it goes on to change belongs to this step.
    if (CActionItem::runningActions() > 0)
    {
        m_flushTimer.start(50);
        return;
    }
    recordPending();
}

void CUndoHistory::recordPending(const QString& text)
{
    m_flushTimer.stop();
    QList<CPending> pending;
    pending.swap(m_lPending);
    std::stable_sort(pending.begin(), pending.end(),
                     [](const CPending& a, const CPending& b)
                     { return a.m_bDirect && !b.m_bDirect; });
    QList<CValueChangeCommand::CChange> changes;
    for (const CPending& item : qAsConst(pending))
    {
        if (!item.m_pGuard)
            continue;
        const QString now = item.m_pField->getValue();
        const auto known = m_values.find(item.m_pField);
        if (known == m_values.end())
        {
            m_values.insert(item.m_pField, now);
            continue;
        }
        if (known.value() != now)
            changes.append({item.m_pField, item.m_pGuard, known.value(), now});
        known.value() = now;
    }
    if (changes.isEmpty())
        return;
    const CXmlObject* const first = changes.first().m_pField;
    const bool typing = text.isEmpty() && isTypedInto(first);
    const QString name = text.isEmpty() ? tr("Change to %1").arg(caption(first)) : text;
    m_pStack->push(new CValueChangeCommand(*this, changes, name, typing ? m_nFocusSerial : 0));
}

void CUndoHistory::clear()
{
    m_flushTimer.stop();
    m_lPending.clear();
    m_pStack->clear();
    takeValues();
    updateActions();
}

void CUndoHistory::markClean()
{
    recordPending();
    m_pStack->setClean();
}

void CUndoHistory::undo()
{
    recordPending();
    if (!m_pStack->canUndo())
        return;
    m_pStack->undo();
    ++m_nFocusSerial;
    if (m_pStack->isClean())
        emit cleanRestored();
}

void CUndoHistory::redo()
{
    recordPending();
    if (!m_pStack->canRedo())
        return;
    m_pStack->redo();
    ++m_nFocusSerial;
    if (m_pStack->isClean())
        emit cleanRestored();
}

void CUndoHistory::apply(const QList<CValueChangeCommand::CChange>& changes, bool after)
{
    m_bApplying = true;
    m_lPending.clear();
    // The field and the value it is to hold once the step is undone or redone.
    QList<QPair<CXmlObject*, QString>> targets;
    QList<QPointer<QObject>> guards;
    for (const CValueChangeCommand::CChange& change : changes)
    {
        targets.append({change.m_pField, after ? change.m_sAfter : change.m_sBefore});
        guards.append(change.m_pGuard);
    }
    // Undone from the last linked change back to its cause.
    if (!after)
    {
        std::reverse(targets.begin(), targets.end());
        std::reverse(guards.begin(), guards.end());
    }
    for (int i = 0; i < targets.size(); ++i)
    {
        if (guards.at(i))
            setAsUser(targets.at(i).first, targets.at(i).second);
    }
    // The actions of the values just set may have changed them again, or changed
    // fields outside the step: these are put back as they were.
    for (int pass = 0; pass < SettlePasses; ++pass)
    {
        QList<CPending> touched;
        touched.swap(m_lPending);
        for (const CPending& item : qAsConst(touched))
        {
            bool inStep = false;
            for (const auto& target : qAsConst(targets))
                inStep = inStep || target.first == item.m_pField;
            const auto known = m_values.constFind(item.m_pField);
            if (!inStep && item.m_pGuard && known != m_values.constEnd())
            {
                targets.append({item.m_pField, known.value()});
                guards.append(item.m_pGuard);
            }
        }
        bool settled = true;
        for (int i = 0; i < targets.size(); ++i)
        {
            CXmlObject* const field = targets.at(i).first;
            if (guards.at(i) && field->getValue() != targets.at(i).second)
            {
                field->setValue(targets.at(i).second);
                settled = false;
            }
        }
        if (settled && m_lPending.isEmpty())
            break;
    }
    m_lPending.clear();
    m_flushTimer.stop();
    m_bApplying = false;
    takeValues();
}

void CUndoHistory::setAsUser(CXmlObject* field, const QString& value)
{
    if (!field || field->getValue() == value)
        return;
    CCheckBox* const box = dynamic_cast<CCheckBox*>(field);
    if (box && box->isEnabled() &&
        (value == (box->isChecked() ? box->uncheckValue() : box->checkValue())))
    {
        box->click();
        return;
    }
    field->setValue(value);
}

QString CUndoHistory::caption(const CXmlObject* field)
{
    if (!field)
        return QString();
    if (QWidget* const widget = widgetOf(field))
    {
        const QAbstractButton* const button = qobject_cast<QAbstractButton*>(widget);
        if (button && !plainCaption(button->text()).isEmpty())
            return plainCaption(button->text());
        for (const QLabel* const label : widget->window()->findChildren<QLabel*>())
        {
            if (label->buddy() == widget && !plainCaption(label->text()).isEmpty())
                return plainCaption(label->text());
        }
        if (!widget->accessibleName().isEmpty())
            return widget->accessibleName();
    }
    return field->property().isEmpty() ? field->name() : field->property();
}

void CUndoHistory::takeValues()
{
    m_values.clear();
    // Without recursion: trees come from untrusted definitions.
    QList<const CXmlObject*> pending{&m_root};
    while (!pending.isEmpty())
    {
        const CXmlObject* const object = pending.takeLast();
        m_values.insert(object, object->getValue());
        for (const CXmlObject* const child : object->childObjects())
            pending.append(child);
    }
}

void CUndoHistory::updateActions()
{
    m_pUndoAction->setEnabled(m_pStack->canUndo());
    m_pRedoAction->setEnabled(m_pStack->canRedo());
    m_pUndoAction->setText(m_pStack->canUndo() ? tr("&Undo %1").arg(menuText(m_pStack->undoText()))
                                               : tr("&Undo"));
    m_pRedoAction->setText(m_pStack->canRedo() ? tr("&Redo %1").arg(menuText(m_pStack->redoText()))
                                               : tr("&Redo"));
}
