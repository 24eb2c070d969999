// Takes a picture of the main window on an installer, as the program shows it on the
// screen it runs on:
//   app_screenshot [--dark] <installer> <output.png> [tools directory]
// --dark sets a dark colour scheme on the application first, as a desktop with a
// dark theme does, so the picture shows the window following it.
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

namespace
{
QPalette darkPalette()
{
    const QColor window(53, 53, 53);
    // Light, dark, mid and shadow follow from the button's colour.
    QPalette palette(window, window);
    const QColor disabled(127, 127, 127);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(35, 35, 35));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    return palette;
}
} // namespace

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
        QApplication::setPalette(darkPalette());
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
