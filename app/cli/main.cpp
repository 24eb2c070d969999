#include "CliTool.h"
#include "app/document/ToolDirectory.h"

#include <localization/Localization.h>
#include <localization/QtStringsTranslator.h>
#include <preference/Preference.h>

#include "app/packages/Leftovers.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTextStream>
#include <csignal>
#include <cstdio>

namespace
{
extern "C" void interrupted(int)
{
    CCliTool::m_gInterrupted = 1;
}

QtMessageHandler g_defaultHandler = nullptr;

// The command's own messages go to standard error by themselves; what the platform
// layer says about the runtime folder of a screen nobody sees is noise there.
void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    g_defaultHandler(type, context, message);
}
} // namespace

int main(int argc, char** argv)
{
    // The page tree is the framework's own, built on Qt's offscreen platform: no
    // display is needed or ever opened, whatever the environment names.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_defaultHandler = qInstallMessageHandler(filterMessages);
    QApplication application(argc, argv);
    // The framework's "begin"/"end" tracing is for the window's log, not a pipeline's,
    // and what the platform layer says about fonts and runtime folders of a screen
    // nobody sees is noise in it.
    QLoggingCategory::setFilterRules(
        QStringLiteral("default.debug=false\nqt.qpa.*=false\nqt.text.font.*=false"));
#ifndef Q_OS_MACOS
    CToolDirectory::prependToPath(CToolDirectory::find(QCoreApplication::applicationDirPath()));
#endif
    // An interrupted command stops at its next safe point and cleans up: reading an
    // installer or publishing leaves no temporary folder or partial output behind.
    struct sigaction action = {};
    action.sa_handler = interrupted;
    // A second signal ends the program at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // What killed runs of either program left in the temporary folder (values,
    // expanded installers) goes now that nobody uses it.
    CLeftovers::removeAbandoned(QDir::tempPath());
    Preference::Initialize();
    Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(),
                             std::shared_ptr<Preference::PreferenceSelector>());
    // Captions and values translate as in the window, so both publish the same text.
    application.installTranslator(new Localization::QtStringsTranslator(&application, nullptr));

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    int status = 0;
    {
        CCliTool tool(out, err);
        status = tool.run(arguments);
    }
    Localization::UnInitialize();
    Preference::UnInitialize();
    return status;
}
