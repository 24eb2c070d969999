#pragma once

#include "XmlObject.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>

class TiXmlElement;
class CActionHost;
class CCommandThread;

// One "action" element of a page definition: reacts to a signal of its owner by
// running one step (a slot on named widgets, a comparison, a value copy, a program,
// an open request, a message, a question or a file chooser) framed by nested
// pre/success/failure/post actions. The owner (the object whose element contains
// the action) deletes it; it has no Qt parent.
class CActionItem : public QThread, public CXmlObject
{
    Q_OBJECT

public:
    enum MessageBoxSeverity
    {
        Information = 0,
        Warning = 1,
        Error = 2
    };

    explicit CActionItem(CXmlObject* parent);
    ~CActionItem() override;

    int parse(TiXmlElement* element, QString& error) override;
    bool performAction(const QString& slot, const CActionItem* action) override;
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    int initActions(QString& error) override;

    // How many runs (doAction) are on the GUI thread's stack just now. While any is,
    // widgets whose signals started them are still in their handlers: a page tree
    // replaced meanwhile must not be destroyed before this comes back to 0.
    static int runningActions();

    // The bodies of the slots without "widget"; each reports its outcome through
    // internalActionDone. cmdAction runs the program on the calling thread (run()
    // calls it); the "cmd" slot runs the same command on a detached CCommandThread
    // instead, so that discarding the page tree never has to wait for a program.
    virtual void cmdAction();
    virtual void openFileAction();
    virtual void messageBoxAction();
    virtual void questionAction();
    virtual void browseFileAction();
    virtual void browseDirectoryAction();

    // Read access for owners, custom actions and diagnostics.
    const QString& signalName() const { return m_sSignal; }
    const QString& slotName() const { return m_sSlot; }
    // The "widget" attribute: the names of the objects the slot acts on.
    const QString& targetNames() const { return m_sObject; }
    MessageBoxSeverity severity() const { return m_MsgSeverity; }
    bool lastResult() const { return m_bResult; }
    const QList<CXmlObject*>& targets() const { return m_lTargets; }
    const QList<CXmlObject*>& sources() const { return m_lSources; }

signals:
    void preAction();
    void successAction();
    void failureAction();
    void postAction();
    void internalActionDone(bool res);
    void actionDone(bool res = true);

public slots:
    void doAction();

protected slots:
    void preActionDone();
    void mainActionDone(bool res);
    void successActionDone();
    void failureActionDone();
    void postActionDone();
    void successActionStart();
    void failureActionStart();
    void postActionStart();

protected:
    // The thread body; runs the command synchronously on the calling thread.
    void run() override;

    // The attributes of the action element, after the common object parse.
    int parseAction(TiXmlElement* element, QString& error);
    // Sets up a slot that acts on the objects named by "widget".
    int setWidgetAction(TiXmlElement* element, const QString& signal, const QString& slot,
                        const QString& widget, QString& error);
    // Registers this action with its owner's signal; 1 when the owner refuses.
    int registerWithOwner(QString& error);
    // The widget that dialogs of this action are shown over (the root's widget).
    QWidget* dialogParent() const;
    // The root when it answers actions itself (no dialogs), else null.
    CActionHost* host() const;
    // Caption of message and question boxes.
    QString messageTitle() const;
    // Converted and translated caption-like attribute.
    QString captionAttribute(TiXmlElement* element, const char* name) const;

    QList<CXmlObject*> m_lTargets;
    QList<CXmlObject*> m_lSources;
    QList<CActionItem*> m_lPreActions;
    QList<CActionItem*> m_lPostActions;
    QList<CActionItem*> m_lSuccessActions;
    QList<CActionItem*> m_lFailureActions;
    bool m_bResult;
    QString m_sSignal;
    QString m_sObject;
    QString m_sSource;
    QString m_sSlot;
    QString m_sValue;
    bool m_bHasValue;
    QString m_sCmd;
    QStringList m_sCmdArgs;
    bool m_bCmdWait;
    bool m_bCmdElevate;
    QString m_sFile;
    QUrl m_sUrl;
    MessageBoxSeverity m_MsgSeverity;
    QString m_sMsgTitle;
    QString m_sMsgText;
    QString m_sDefaultAnswer;
    QString m_sFilter;
    QString m_sCaption;

private:
    // Nested actions of the running phase that have not reported back yet, so that
    // a phase with several nested actions moves on once, after the last of them.
    int m_iPendingPre;
    int m_iPendingSuccess;
    int m_iPendingFailure;
    int m_iPendingPost;
    // Set from doAction until the run reports actionDone. Actions that trigger one
    // another through their widgets would otherwise recurse without end.
    bool m_bRunning = false;
    // Ends the run: the action may be triggered again, and reports its outcome.
    void finishRun();
    // The command run in progress; it outlives this action if the page tree is
    // discarded meanwhile and deletes itself when the program is done.
    QPointer<CCommandThread> m_pCommandThread;
    static int m_gRunningActions;
};
