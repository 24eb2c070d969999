// Takes a picture of the main window on an installer, as the program shows it on the
// screen it runs on:
//   app_screenshot [--dark] <installer> <output.png> [tools directory]
// --dark sets a dark colour scheme on the application first, as a desktop with a
// dark theme does, so the picture shows the window following it.
#include "DarkPalette.h"
#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"

#include <localization/Localization.h>
#include <localization/QtStringsTranslator.h>
#include <preference/Preference.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QPixmap>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool dark = arguments.removeAll(QStringLiteral("--dark")) > 0;
    if (arguments.size() < 2)
    {
        QTextStream(stderr)
            << "usage: app_screenshot [--dark] <installer> <output.png> [tools directory]\n";
        return 2;
    }
    if (dark)
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(AppTest::darkPalette());
    }
    CToolDirectory::prependToPath(
        arguments.size() > 2 ? arguments.at(2)
                             : CToolDirectory::find(QCoreApplication::applicationDirPath()));
    Preference::Initialize();
    Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(), {});
    application.installTranslator(new Localization::QtStringsTranslator(&application));

    int result = 0;
    {
        CAdminPage window(arguments.at(0), QStringList());
        window.show();
        // Let the window map, fit its page, lay out and paint before it is grabbed.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!window.grab().save(arguments.at(1)))
        {
            QTextStream(stderr) << "app_screenshot: cannot write " << arguments.at(1) << "\n";
            result = 1;
        }
    }
    Localization::UnInitialize();
    Preference::UnInitialize();
    return result;
}
