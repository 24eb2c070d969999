#pragma once

#include "CheckReport.h"
#include "DocumentRoot.h"

#include "shared/XmlWidgets/ActionHost.h"

#include <QStringList>
#include <QWidget>

// The root of a page tree that nobody sees: the command line's document, and the
// releases the migration report compares. The tree is the framework's own, so its
// fields keep their values by the same rules as the window's. Its actions ask
// nobody: questions take the answer the definition marks as default, messages are
// noted, and programs, opening files or addresses and file choosers are not run
// and fail the check they belong to.
class CHeadlessRoot : public QWidget, public CDocumentRoot, public CActionHost
{
    Q_OBJECT

public:
    explicit CHeadlessRoot(QWidget* parent = nullptr);
    ~CHeadlessRoot() override;

    QWidget* widget() const override;
    CPageHolder* pageHolder() const override { return m_pPageHolder; }
    CPageIndex* pageIndex() const override { return m_pPageIndex; }

    // Runs each "validate" action as its own check, and collects the report.
    void runValidateActions() override;
    const CCheckReport& checkReport() const { return m_report; }
    // What actions said outside any check (those a value change started).
    const QStringList& otherMessages() const { return m_lOtherMessages; }

    void setTimeoutMs(int timeoutMs) { m_iTimeoutMs = timeoutMs; }

    void actionMessage(const CActionItem& action, int severity, const QString& title,
                       const QString& text) override;
    bool actionQuestion(const CActionItem& action, int severity, const QString& title,
                        const QString& text, bool defaultYes) override;
    bool actionMayRun(const CActionItem& action, const QString& slot) override;
    void actionWebCheck(const CActionItem& action, const QString& name, const QString& url,
                        bool passed, const QString& reason) override;
    int actionTimeoutMs() const override { return m_iTimeoutMs; }

private:
    void note(const QString& message);

    CPageHolder* m_pPageHolder = nullptr;
    CPageIndex* m_pPageIndex = nullptr;
    CCheckReport m_report;
    CCheckReport::CCheck* m_pCurrent = nullptr;
    QStringList m_lOtherMessages;
    int m_iTimeoutMs = 30000;
};
