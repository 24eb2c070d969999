#include "AppTestSupport.h"

#include "app/window/AdminPage.h"

#include <localization/Localization.h>
#include <localization/QtStringsTranslator.h>

#include <QApplication>
#include <QMenuBar>
#include <cstdlib>

using namespace AppTest;

namespace
{
// Starts the translation layer as the program does, for the language of LANG.
class LanguageFixture : public AppFixture
{
protected:
    void start(const char* language)
    {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", language, 1);
        Localization::Initialize(L"AdminConfig", L"Localizable", std::wstring(), {});
        m_pTranslator = new Localization::QtStringsTranslator(qApp);
        QCoreApplication::installTranslator(m_pTranslator);
    }
    void TearDown() override
    {
        QCoreApplication::removeTranslator(m_pTranslator);
        delete m_pTranslator;
        Localization::UnInitialize();
        AppFixture::TearDown();
    }
    QStringList menuTitles(CAdminPage& window)
    {
        QStringList titles;
        for (QAction* action : window.findChild<QMenuBar*>()->actions())
            titles.append(action->text());
        return titles;
    }
    Localization::QtStringsTranslator* m_pTranslator = nullptr;
};
} // namespace

TEST_F(LanguageFixture, GermanUserSeesTheWindowInGermanFromTheShippedTable)
{
    start("de_DE.UTF-8");
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    EXPECT_EQ(menuTitles(window).mid(0, 4),
              (QStringList{QStringLiteral("&Datei"), QStringLiteral("&Bearbeiten"),
                           QStringLiteral("&Veröffentlichen"), QStringLiteral("&Hilfe")}));
    EXPECT_NE(findAction(&window, QStringLiteral("&Rückgängig")), nullptr);
    EXPECT_NE(findAction(&window, QStringLiteral("Speichern &unter …")), nullptr);
    EXPECT_EQ(findAction(&window, QStringLiteral("Save &As...")), nullptr);
}

TEST_F(LanguageFixture, LanguageWithoutATableFallsBackToEnglish)
{
    start("xx_YY.UTF-8");
    CAdminPage window(sample(QStringLiteral("TessarySample.pkg")), QStringList());
    EXPECT_EQ(menuTitles(window).mid(0, 1), QStringList{QStringLiteral("&File")});
    EXPECT_NE(findAction(&window, QStringLiteral("Save &As...")), nullptr);
}
