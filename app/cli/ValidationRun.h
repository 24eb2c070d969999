#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class CDocument;
class TiXmlElement;

// Runs a document's "validate" actions as a publish would, without a window and
// without asking anyone:
// - a question takes the answer its definition marks as default ("defaultAnswer";
//   "no" when none), and says so;
// - a message box's text is reported, its severity kept;
// - "cancelpublish" fails the check it belongs to;
// - web checks ("validateurl") fetch every address and fail when one fails;
// - comparisons and value changes act on the document's values;
// - what only a window can do (pages, focus, showing and enabling) does nothing;
// - programs ("cmd"), opening files or addresses, and file choosers are not run
//   and fail the check, since their outcome cannot be known.
class CValidationRun
{
public:
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

    explicit CValidationRun(CDocument& document, int timeoutMs = 30000);

    // Runs every validate action; true when all passed.
    bool run();
    const QList<CCheck>& checks() const { return m_lChecks; }

private:
    bool perform(const TiXmlElement* action, CCheck& check, int depth);
    bool performMain(const TiXmlElement* action, CCheck& check);
    bool webCheck(const TiXmlElement* action, CCheck& check);
    void children(const TiXmlElement* action, const char* signal, CCheck& check, int depth);

    CDocument& m_document;
    int m_iTimeoutMs;
    QList<CCheck> m_lChecks;
};
