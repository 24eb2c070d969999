#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

class QDialog;
class QFileDialog;

namespace TestSupport
{

// Answers the modal dialogs a test opens, the way a user would, from a timer that
// looks at the active modal widget every few milliseconds. Each dialog goes first
// to the handlers: the one-shot ones (once, answerNext) in the order given, then
// the standing ones (m_lHandlers). What no handler takes gets the default answer,
// unless the answerer was made to answer through handlers only:
// - a message box: the chosen button (or OK) is clicked and its text recorded;
// - a file dialog: the next queued path is typed and accepted (none left:
//   canceled) and its title recorded;
// - a progress dialog: left to close itself when its work ends;
// - any other dialog: rejected and its title recorded.
// A dialog being answered is not answered again by a poll from a nested event
// loop (a question its answer asks, a handler waiting), and nothing is touched
// once the dialog is gone.
class CModalAnswerer : public QObject
{
public:
    // Returns true when it took the dialog: answered it, or leaves it open on
    // purpose (to answer it later). False passes it on.
    typedef std::function<bool(QDialog*)> Handler;

    enum Policy
    {
        AnswerEverything, // the default answers above
        HandlersOnly      // what no handler takes is left open
    };

    explicit CModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
    explicit CModalAnswerer(Policy policy);
    // With these standing handlers from the start.
    explicit CModalAnswerer(const QList<Handler>& handlers,
                            QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~CModalAnswerer() override;

    CModalAnswerer(const CModalAnswerer&) = delete;
    CModalAnswerer& operator=(const CModalAnswerer&) = delete;

    // The button message boxes are answered with (OK where they lack it).
    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }

    // Offers every modal dialog to handler, ahead of the standing handlers, until
    // it first returns true; then it is dropped. A handler may arm further ones.
    void once(Handler handler);
    // Calls action with the next modal dialog, whatever it is.
    void answerNext(std::function<void(QDialog*)> action);

    // Forgets what was recorded (not the handlers nor the queued paths).
    void clear();

    // Types path into the dialog's name field and accepts, as a user would.
    static void choose(QFileDialog* dialog, const QString& path);

    // Standing handlers, asked in order on every poll.
    QList<Handler> m_lHandlers;
    // Paths for the next file dialogs, first first.
    QStringList m_lFileAnswers;

    // Everything the default answers took, in order: a message box's text, or
    // "dialog: " and the title of any other dialog.
    QStringList m_lSeen;
    // The texts of the message boxes answered.
    QStringList m_lTexts;
    // The titles of the file dialogs answered or canceled.
    QStringList m_lFileCaptions;
    // The titles of the dialogs rejected because nothing took them.
    QStringList m_lUnhandled;

private:
    struct OneShot
    {
        int id;
        Handler handler;
        bool running;
    };

    void poll();
    // True when a handler took the dialog.
    bool offerToHandlers(QDialog* dialog);
    void answerByDefault(QDialog* dialog);
    bool isBeingAnswered(const QWidget* dialog) const;

    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    Policy m_policy = AnswerEverything;
    QList<OneShot> m_lOnce;
    int m_iNextId = 0;
    // The dialogs whose answer is running (and may wait in a nested event loop).
    QList<QPointer<QWidget>> m_lAnswering;
    QTimer m_timer;
};

} // namespace TestSupport
