#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the "validate" actions of a document said when they ran without a window:
// one check per action, with its messages, answered questions and web checks.
struct CCheckReport
{
    struct CUrl
    {
        QString m_sName;
        QString m_sUrl;
        bool m_bPassed = false;
        QString m_sReason;
    };

    struct CCheck
    {
        QString m_sSlot;
        QString m_sWidget;
        bool m_bPassed = true;
        // Messages and answered questions, in the order they came.
        QStringList m_lMessages;
        QList<CUrl> m_lUrls;
    };

    QList<CCheck> m_lChecks;

    bool passed() const
    {
        for (const CCheck& check : m_lChecks)
        {
            if (!check.m_bPassed)
                return false;
        }
        return true;
    }
};
