#pragma once

#include <QString>

class CActionItem;

// A root of the page tree that answers actions itself instead of a person: a
// program without a window. Actions of its tree show no dialogs; they hand their
// messages and questions here, ask before running what only a person or the
// desktop can judge (a program, opening a file or address, a file chooser), and
// report their web checks. A root that is no host gets the dialogs.
class CActionHost
{
public:
    virtual ~CActionHost();

    // severity is CActionItem::MessageBoxSeverity.
    virtual void actionMessage(const CActionItem& action, int severity, const QString& title,
                               const QString& text) = 0;
    // The answer to a question whose definition marks defaultYes as its default.
    virtual bool actionQuestion(const CActionItem& action, int severity, const QString& title,
                                const QString& text, bool defaultYes) = 0;
    // False when the step (slot "cmd", "open", "browsefile", "browsedir") is not run;
    // it then fails.
    virtual bool actionMayRun(const CActionItem& action, const QString& slot) = 0;
    // One address of a web check and its outcome.
    virtual void actionWebCheck(const CActionItem& action, const QString& name, const QString& url,
                                bool passed, const QString& reason) = 0;
    // How long one address of a web check may take, in milliseconds.
    virtual int actionTimeoutMs() const = 0;
};
