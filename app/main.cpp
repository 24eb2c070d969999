#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"
#include "app/window/CommandLine.h"

#include <localization/Localization.h>
#include <localization/Localizer.h>
#include <localization/QtStringsTranslator.h>
#include <preference/Preference.h>

#include "app/packages/Leftovers.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

#include <cstdio>

namespace
{
QStringList programArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    return arguments;
}

const char* const g_help =
    "Usage: Tessary [FILE] [-OPTION]...\n"
    "Opens FILE, an installer (.pkg, .mpkg, .dmg, .package) or a customization file\n"
    "(.xml), in the configuration window.\n"
    "\n"
    "Options (a leading \"-\", \"--\" or \"/\", in any letter case):\n"
    "  -debug      write the diagnostic log to standard error and show the page\n"
    "              elements meant for debugging\n"
    "  -OPTION     any other word is a start-up option of the page definition, which\n"
    "              may show pages or fields only with it (such as -diagnostics)\n"
    "  -help       print this help and exit\n"
    "  -version    print the version and exit\n"
    "Qt's own options (-platform NAME, -display DISPLAY, ...) are taken too.\n"
    "\n"
    "See Tessary(1); without a window, tessary-cli(1).\n";
} // namespace

int main(int argc, char** argv)
{
    // Help and version answer before anything needs a display.
    {
        const QStringList options = CCommandLine(programArguments(argc, argv)).options();
        if (options.contains(QStringLiteral("help")) || options.contains(QStringLiteral("h")))
        {
            std::fputs(g_help, stdout);
            return 0;
        }
        if (options.contains(QStringLiteral("version")))
        {
            std::puts("Tessary " TESSARY_VERSION_STRING);
            return 0;
        }
    }

    QApplication application(argc, argv);
    // QApplication has taken its own options out of argv; the rest is ours, in UTF-8.
    const CCommandLine commandLine(programArguments(argc, argv));
    // The debug log (each step's "begin"/"end", the worker's loop, the tools' failures)
    // is for diagnosing, not for every start; QT_LOGGING_RULES can still turn it on.
    if (!commandLine.options().contains(QStringLiteral("debug")))
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
#ifndef Q_OS_MACOS
    // The package tools are found by name, as on macOS, so ours must come first.
    CToolDirectory::prependToPath(CToolDirectory::find(QCoreApplication::applicationDirPath()));
#endif
    // What killed runs of either program left in the temporary folder (values,
    // expanded installers) goes now that nobody uses it.
    CLeftovers::removeAbandoned(QDir::tempPath());
    Preference::Initialize();
    Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(),
                             std::shared_ptr<Preference::PreferenceSelector>());

    Localization::QtStringsTranslator* const translator =
        new Localization::QtStringsTranslator(&application, nullptr);
    application.installTranslator(translator);
    // Qt's own dialogs and buttons (file dialogs, Yes/No) speak the same language;
    // installed before ours, so our table has the last word.
    if (const std::shared_ptr<Localization::Localizer> localizer = Localization::GetInstance())
    {
        QTranslator* const qtTranslator = new QTranslator(&application);
        if (qtTranslator->load(QLocale(QString::fromStdWString(localizer->GetLanguageCode())),
                               QStringLiteral("qtbase"), QStringLiteral("_"),
                               QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        {
            application.removeTranslator(translator);
            application.installTranslator(qtTranslator);
            application.installTranslator(translator);
        }
    }

    CAdminPage* window =
        new CAdminPage(commandLine.file(), commandLine.options(), nullptr, nullptr);
    QObject::connect(&application, &QApplication::lastWindowClosed, &application,
                     &QApplication::quit);
    window->show();
    application.exec();

    // The window saves the recent files through the preference library on its way out.
    delete window;
    Localization::UnInitialize();
    Preference::UnInitialize();
    return 0;
}
