#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"
#include "app/window/CommandLine.h"

#include <localization/Localization.h>
#include <localization/Localizer.h>
#include <localization/QtStringsTranslator.h>
#include <preference/Preference.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
#ifndef Q_OS_MACOS
    // The package tools are found by name, as on macOS, so ours must come first.
    CToolDirectory::prependToPath(CToolDirectory::find(QCoreApplication::applicationDirPath()));
#endif
    Preference::Initialize();
    Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(),
                             std::shared_ptr<Preference::PreferenceSelector>());

    // QApplication has taken its own options out of argv; the rest is ours, in UTF-8.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    const CCommandLine commandLine(arguments);

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
