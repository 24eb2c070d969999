#include "AppTestSupport.h"

#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QThread>
#include <QTimer>
#include <preference/Preference.h>
#include <unistd.h>

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

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString shellQuoted(const QString& path)
{
    QString text = path;
    text.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

std::string runShell(const QString& command)
{
    std::string output;
    const int status = TestSupport::runCommand(command.toStdString(), &output);
    EXPECT_EQ(0, status) << command.toStdString() << "\n" << output;
    return output;
}

QString scriptRelease(const QString& name, const QString& version,
                      const std::function<QByteArray(QByteArray)>& edit)
{
    QByteArray header;
    QByteArray definition;
    QByteArray rest;
    int part = 0;
    for (const QByteArray& line :
         bytesOf(sample(QStringLiteral("TessarySample.package"))).split('\n'))
    {
        if (part == 0 && line.startsWith("# SoftwareVersion "))
            header += "# SoftwareVersion " + version.toUtf8() + '\n';
        else if (part == 0)
        {
            header += line + '\n';
            part = line.startsWith("## BEGIN OF XML CONFIG") ? 1 : 0;
        }
        else if (part == 1 && line.startsWith("## END OF XML CONFIG"))
        {
            rest += line + '\n';
            part = 2;
        }
        else if (part == 1)
            definition += line.mid(1) + '\n';
        else
            rest += line + '\n';
    }
    EXPECT_EQ(2, part) << "the sample script installer has no page definition";
    QByteArray changed;
    for (const QByteArray& line : edit(definition).split('\n'))
        changed += '#' + line + '\n';
    rest.chop(1);
    return writeFile(name, header + changed + rest);
}

std::shared_ptr<void> mountSmallFileSystem(const QString& directory, const QString& size)
{
    QDir().mkpath(directory);
    const std::string quoted = shellQuoted(directory).toStdString();
    if (::getuid() != 0 || TestSupport::runCommand("mount -t tmpfs -o size=" + size.toStdString() +
                                                   " tmpfs " + quoted + " 2>/dev/null") != 0)
        return nullptr;
    return std::shared_ptr<void>(reinterpret_cast<void*>(1),
                                 [quoted](void*) { TestSupport::runCommand("umount " + quoted); });
}

QString largeFlatPackage(const QString& name, qint64 bytes)
{
    const QString expanded = testPath(name + QStringLiteral(".expanded"));
    const QString package = testPath(name);
    std::string said;
    EXPECT_EQ(0, TestSupport::runCommand(
                     "pkgutil --expand " + shellQuoted(sample("TessarySample.pkg")).toStdString() +
                         " " + shellQuoted(expanded).toStdString() + " && head -c " +
                         std::to_string(bytes) + " /dev/urandom > " +
                         shellQuoted(expanded + "/Payload").toStdString() +
                         " && pkgutil --flatten " + shellQuoted(expanded).toStdString() + " " +
                         shellQuoted(package).toStdString(),
                     &said))
        << said;
    return package;
}

QMap<QString, QString> exportedBy(const QString& file)
{
    std::string output;
    EXPECT_EQ(0, TestSupport::runCommand("env -i bash -c 'source \"$0\" && env -0' " +
                                             shellQuoted(file).toStdString(),
                                         &output));
    QMap<QString, QString> exported;
    for (const QByteArray& entry : QByteArray::fromStdString(output).split('\0'))
    {
        const int equals = entry.indexOf('=');
        if (equals > 0)
            exported.insert(QString::fromUtf8(entry.left(equals)),
                            QString::fromUtf8(entry.mid(equals + 1)));
    }
    // What bash sets by itself.
    exported.remove(QStringLiteral("PWD"));
    exported.remove(QStringLiteral("SHLVL"));
    exported.remove(QStringLiteral("_"));
    return exported;
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

bool withContextMenu(QWidget* widget, const std::function<void(QMenu*)>& look)
{
    bool shown = false;
    QTimer::singleShot(0,
                       [&]
                       {
                           QMenu* const menu =
                               qobject_cast<QMenu*>(QApplication::activePopupWidget());
                           if (!menu)
                               return;
                           shown = true;
                           look(menu);
                           menu->close();
                       });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              widget->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(widget, &request);
    return shown;
}

bool acceptReview(QDialog* dialog)
{
    if (dialog->objectName() != QLatin1String("ReviewDialog"))
        return false;
    dialog->accept();
    return true;
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
