#pragma once

// Answers the modal dialogs a command opens, from a timer: message boxes with Yes
// (or OK) and their texts recorded, file dialogs with the next queued path (none
// left: canceled), any other dialog by the first handler that takes it.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace AppTest
{

class CModalDriver
{
public:
    // Returns true when it answered the dialog.
    typedef std::function<bool(QDialog*)> Handler;

    CModalDriver()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(20);
    }

    QStringList m_lTexts;
    QStringList m_lFileAnswers;
    // Runs on each file dialog before it is answered (to tick its options).
    std::function<void(QFileDialog*)> m_beforeFileAnswer;
    QList<Handler> m_lHandlers;
    QStringList m_lUnhandled;
    int m_iFileDialogs = 0;

private:
    void poll()
    {
        QWidget* const modal = QApplication::activeModalWidget();
        if (QMessageBox* box = qobject_cast<QMessageBox*>(modal))
        {
            m_lTexts.append(box->text());
            QAbstractButton* button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (button)
                button->click();
            else
                box->reject();
            return;
        }
        if (QFileDialog* dialog = qobject_cast<QFileDialog*>(modal))
        {
            if (dialog == m_pAccepting)
                return;
            m_pAccepting = dialog;
            ++m_iFileDialogs;
            const QString answer =
                m_lFileAnswers.isEmpty() ? QString() : m_lFileAnswers.takeFirst();
            if (answer.isEmpty())
            {
                dialog->reject();
                return;
            }
            if (m_beforeFileAnswer)
                m_beforeFileAnswer(dialog);
            // Accepting may ask (an existing file): the timer must be free to answer.
            QTimer::singleShot(0, dialog,
                               [dialog, answer]
                               {
                                   if (QLineEdit* edit = dialog->findChild<QLineEdit*>(
                                           QStringLiteral("fileNameEdit")))
                                       edit->setText(answer);
                                   else
                                       dialog->selectFile(answer);
                                   static_cast<QDialog*>(dialog)->accept();
                               });
            return;
        }
        QDialog* const dialog = qobject_cast<QDialog*>(modal);
        if (!dialog || dialog->inherits("QProgressDialog"))
            return;
        for (const Handler& handler : qAsConst(m_lHandlers))
        {
            if (handler(dialog))
                return;
        }
        m_lUnhandled.append(dialog->objectName());
        dialog->reject();
    }

    QTimer m_timer;
    QPointer<QFileDialog> m_pAccepting;
};

} // namespace AppTest
