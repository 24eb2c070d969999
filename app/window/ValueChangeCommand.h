#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QUndoCommand>

class CUndoHistory;
class CXmlObject;

// One undoable step of the window: the values of the fields it changed, before and
// after. A change an action made to linked fields is part of the step of its cause.
class CValueChangeCommand : public QUndoCommand
{
public:
    struct CChange
    {
        CXmlObject* m_pField = nullptr;
        // The field's QObject, when it has one: a field gone since is passed over.
        QPointer<QObject> m_pGuard;
        QString m_sBefore;
        QString m_sAfter;
    };

    // typingSerial: not 0 when the step is typing into its first field; steps of the
    // same serial and field merge.
    CValueChangeCommand(CUndoHistory& history, const QList<CChange>& changes, const QString& text,
                        quint64 typingSerial);

    void undo() override;
    // The first call (from the push) finds the values already in place.
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand* other) override;

    const QList<CChange>& changes() const { return m_lChanges; }

private:
    CUndoHistory& m_history;
    QList<CChange> m_lChanges;
    quint64 m_nTypingSerial;
    bool m_bPushed = false;
};
