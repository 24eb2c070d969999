#pragma once

#include "ValueChangeCommand.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class CXmlObject;
class QAction;
class QUndoStack;
class QWidget;

// The window's undo history of field values. Changes reach it as the document's
// change notifications; whatever changes while one event is handled (a click and
// what the field's actions set on linked fields, or a reset) becomes one step, named
// after the first field it changed. Undo and redo set the values back as a click or
// typing would, so actions follow (fields they enable or disable), and then put the
// step's own values in place, so no action re-changes a field against them.
class CUndoHistory : public QObject
{
    Q_OBJECT

public:
    CUndoHistory(CXmlObject& root, QObject* parent);
    ~CUndoHistory() override;

    QUndoStack* stack() const { return m_pStack; }
    // Edit menu entries, enabled only with something to undo or redo, named after it.
    QAction* undoAction() const { return m_pUndoAction; }
    QAction* redoAction() const { return m_pRedoAction; }

    // A field's value changed (from the document's notification); ignored while a
    // step is being undone or redone.
    void noteChange(CXmlObject* source);
    // Makes what changed since the last step into a step (text names it; empty: the
    // first changed field). Without changes nothing is added.
    void recordPending(const QString& text = QString());
    // Forgets every step and takes the values now held as the starting point (a
    // document opened, replaced or loaded).
    void clear();
    // The values now held are the saved ones.
    void markClean();
    bool isApplying() const { return m_bApplying; }
    // Puts the values of changes back (before) or again (after) in place.
    void apply(const QList<CValueChangeCommand::CChange>& changes, bool after);

    // Sets value as the administrator would: a check box is clicked, so that its
    // actions run as after a click; other fields take it through setValue.
    static void setAsUser(CXmlObject* field, const QString& value);
    // How people know the field: its caption, the label naming it, its property.
    static QString caption(const CXmlObject* field);

public slots:
    void undo();
    void redo();

signals:
    // Undo or redo came back to the values last saved.
    void cleanRestored();

private:
    void takeValues();
    void updateActions();
    void flushWhenIdle();

    CXmlObject& m_root;
    QUndoStack* m_pStack = nullptr;
    QAction* m_pUndoAction = nullptr;
    QAction* m_pRedoAction = nullptr;
    // The last value seen of every object of the tree.
    QHash<const CXmlObject*, QString> m_values;
    struct CPending
    {
        CXmlObject* m_pField;
        QPointer<QObject> m_pGuard;
        // Not made by a running action: the administrator's own change.
        bool m_bDirect;
    };
    QList<CPending> m_lPending;
    QTimer m_flushTimer;
    bool m_bApplying = false;
    // Changes with the focus elsewhere in between are not one typing.
    quint64 m_nFocusSerial = 1;
};
