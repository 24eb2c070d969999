#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressDialog>

namespace TestSupport
{

namespace
{
// Often enough that a test waits little, seldom enough to cost nothing.
const int kPollMs = 20;
} // namespace

CModalAnswerer::CModalAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
{
    // Single shot, armed again by each poll (see poll()).
    m_timer.setSingleShot(true);
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &CModalAnswerer::poll);
    m_timer.start();
}

CModalAnswerer::CModalAnswerer(Policy policy) : CModalAnswerer()
{
    m_policy = policy;
}

CModalAnswerer::CModalAnswerer(const QList<Handler>& handlers, QMessageBox::StandardButton answer)
    : CModalAnswerer(answer)
{
    m_lHandlers = handlers;
}

CModalAnswerer::~CModalAnswerer() = default;

void CModalAnswerer::once(Handler handler)
{
    m_lOnce.append(OneShot{m_iNextId++, std::move(handler), false});
}

void CModalAnswerer::answerNext(std::function<void(QDialog*)> action)
{
    once(
        [action](QDialog* dialog)
        {
            action(dialog);
            return true;
        });
}

void CModalAnswerer::clear()
{
    m_lSeen.clear();
    m_lTexts.clear();
    m_lFileCaptions.clear();
    m_lUnhandled.clear();
}

void CModalAnswerer::poll()
{
    // A timer does not fire again while its own timeout runs, and an answer may
    // wait in a nested event loop (a question it asks, a handler's own dialog):
    // arming the timer first keeps the polls going in there.
    m_timer.start();
    QDialog* const dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || isBeingAnswered(dialog))
        return;
    const QPointer<CModalAnswerer> self(this);
    const QPointer<QDialog> alive(dialog);
    // Polls nest, so the dialogs being answered form a stack.
    m_lAnswering.append(alive.data());
    const bool taken = offerToHandlers(dialog);
    if (!self)
        return;
    if (!taken && alive && m_policy == AnswerEverything)
        answerByDefault(dialog);
    if (self)
        m_lAnswering.removeLast();
}

bool CModalAnswerer::offerToHandlers(QDialog* dialog)
{
    const QPointer<CModalAnswerer> self(this);
    const QPointer<QDialog> alive(dialog);
    // Only those armed before this poll, each found again by its id: a handler may
    // arm more, and a nested poll may have dropped some.
    QList<int> ids;
    for (const OneShot& shot : qAsConst(m_lOnce))
        ids.append(shot.id);
    for (const int id : qAsConst(ids))
    {
        const auto find = [this, id]
        {
            for (int i = 0; i < m_lOnce.size(); ++i)
            {
                if (m_lOnce.at(i).id == id)
                    return i;
            }
            return -1;
        };
        int index = find();
        if (index < 0 || m_lOnce.at(index).running)
            continue;
        const Handler handler = m_lOnce.at(index).handler;
        m_lOnce[index].running = true;
        const bool took = handler(dialog);
        if (!self)
            return true;
        index = find();
        if (index >= 0)
        {
            if (took)
                m_lOnce.removeAt(index);
            else
                m_lOnce[index].running = false;
        }
        if (took || !alive)
            return true;
    }
    // A copy: a handler may change the list.
    const QList<Handler> handlers = m_lHandlers;
    for (const Handler& handler : handlers)
    {
        const bool took = handler(dialog);
        if (!self || took || !alive)
            return true;
    }
    return false;
}

void CModalAnswerer::answerByDefault(QDialog* dialog)
{
    if (QMessageBox* box = qobject_cast<QMessageBox*>(dialog))
    {
        m_lSeen.append(box->text());
        m_lTexts.append(box->text());
        QAbstractButton* button = box->button(m_answer);
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (button)
            button->click();
        else
            box->reject();
        return;
    }
    const QString title = dialog->windowTitle();
    if (QFileDialog* files = qobject_cast<QFileDialog*>(dialog))
    {
        m_lSeen.append(QStringLiteral("dialog: ") + title);
        m_lFileCaptions.append(title);
        const QString path = m_lFileAnswers.isEmpty() ? QString() : m_lFileAnswers.takeFirst();
        if (path.isEmpty())
        {
            dialog->reject();
            return;
        }
        choose(files, path);
        return;
    }
    // Rejecting it would cancel the work it shows.
    if (qobject_cast<QProgressDialog*>(dialog))
        return;
    m_lSeen.append(QStringLiteral("dialog: ") + title);
    m_lUnhandled.append(title);
    dialog->reject();
}

void CModalAnswerer::choose(QFileDialog* dialog, const QString& path)
{
    // A file selected in the dialog's list wins over a typed name, and typing
    // deselects it only while the name field has the focus.
    const QList<QAbstractItemView*> views = dialog->findChildren<QAbstractItemView*>();
    for (QAbstractItemView* view : views)
    {
        if (view->selectionModel())
            view->selectionModel()->clearSelection();
    }
    // The name field takes absolute paths, even below a folder that is missing.
    if (QLineEdit* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        edit->setText(path);
    else
        dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
}

bool CModalAnswerer::isBeingAnswered(const QWidget* dialog) const
{
    for (const QPointer<QWidget>& answering : m_lAnswering)
    {
        if (answering == dialog)
            return true;
    }
    return false;
}

} // namespace TestSupport
