#include "AppTestSupport.h"

#include "app/AdminPage.h"
#include "app/document/ToolDirectory.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QThread>
#include <preference/Preference.h>

namespace AppTest
{

QString sample(const QString& name)
{
    return QString::fromStdString(TestSupport::binaryDirectory()) +
           QStringLiteral("/examples/samples/") + name;
}

QString testPath(const QString& name)
{
    return QDir(QString::fromStdString(TestSupport::testDirectory())).filePath(name);
}

QString writeFile(const QString& name, const QByteArray& text)
{
    const QString path = testPath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (condition())
            return true;
        QThread::msleep(10);
    }
    return condition();
}

QAction* findAction(CAdminPage* window, const QString& text)
{
    const QList<QAction*> actions = window->findChildren<QAction*>();
    for (QAction* action : actions)
    {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

CModalAnswerer::CModalAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
{
    connect(&m_timer, &QTimer::timeout, this, &CModalAnswerer::poll);
    m_timer.start(20);
}

CModalAnswerer::~CModalAnswerer() = default;

void CModalAnswerer::poll()
{
    QWidget* const modal = QApplication::activeModalWidget();
    if (QMessageBox* box = qobject_cast<QMessageBox*>(modal))
    {
        m_lTexts.append(box->text());
        QAbstractButton* button = box->button(m_answer);
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (button)
            button->click();
        else
            box->reject();
    }
    else if (QDialog* dialog = qobject_cast<QDialog*>(modal))
    {
        m_lTexts.append(QStringLiteral("dialog: ") + dialog->windowTitle());
        dialog->reject();
    }
}

void AppFixture::SetUp()
{
    Preference::Initialize();
    CToolDirectory::prependToPath(QString::fromStdString(TestSupport::toolsDirectory()));
}

void AppFixture::TearDown()
{
    Preference::UnInitialize();
}

} // namespace AppTest
