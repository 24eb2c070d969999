// Takes a picture of the main window on an installer, as the program shows it:
//   app_screenshot <installer> <output.png> [tools directory]
#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"

#include <localization/Localization.h>
#include <localization/QtStringsTranslator.h>
#include <preference/Preference.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 3)
    {
        QTextStream(stderr) << "usage: app_screenshot <installer> <output.png> [tools directory]\n";
        return 2;
    }
    CToolDirectory::prependToPath(
        argc > 3 ? QString::fromUtf8(argv[3])
                 : CToolDirectory::find(QCoreApplication::applicationDirPath()));
    Preference::Initialize();
    Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(), {});
    application.installTranslator(new Localization::QtStringsTranslator(&application));

    int result = 0;
    {
        CAdminPage window(QString::fromUtf8(argv[1]), QStringList());
        window.resize(1100, 760);
        window.show();
        // Let the window map, lay out and paint before it is grabbed.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!window.grab().save(QString::fromUtf8(argv[2])))
        {
            QTextStream(stderr) << "app_screenshot: cannot write " << argv[2] << "\n";
            result = 1;
        }
    }
    Localization::UnInitialize();
    Preference::UnInitialize();
    return result;
}
