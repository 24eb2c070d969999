#include "ValueChangeCommand.h"

#include "UndoHistory.h"

namespace
{
const int TypingId = 1;
} // namespace

CValueChangeCommand::CValueChangeCommand(CUndoHistory& history, const QList<CChange>& changes,
                                         const QString& text, quint64 typingSerial)
    : QUndoCommand(text), m_history(history), m_lChanges(changes), m_nTypingSerial(typingSerial)
{
}

void CValueChangeCommand::undo()
{
    m_history.apply(m_lChanges, false);
}

void CValueChangeCommand::redo()
{
    if (!m_bPushed)
    {
        m_bPushed = true;
        return;
    }
    m_history.apply(m_lChanges, true);
}

int CValueChangeCommand::id() const
{
    return m_nTypingSerial != 0 ? TypingId : -1;
}

bool CValueChangeCommand::mergeWith(const QUndoCommand* other)
{
    const auto* const next = static_cast<const CValueChangeCommand*>(other);
    if (next->m_nTypingSerial != m_nTypingSerial || next->m_lChanges.isEmpty() ||
        m_lChanges.isEmpty() || next->m_lChanges.first().m_pField != m_lChanges.first().m_pField)
        return false;
    for (const CChange& change : next->m_lChanges)
    {
        bool known = false;
        for (CChange& mine : m_lChanges)
        {
            if (mine.m_pField == change.m_pField)
            {
                mine.m_sAfter = change.m_sAfter;
                known = true;
                break;
            }
        }
        if (!known)
            m_lChanges.append(change);
    }
    return true;
}
