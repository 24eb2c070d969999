#include "tests/support/TestEnvironment.h"

#include <localization/Localization.h>
#include <localization/Localizer.h>
#include <localization/QtStringsTranslator.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

QStringList g_messages;

void collectMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        g_messages << message;
}

QString resourceDir()
{
    return QString::fromStdString(TestSupport::testDirectory()) + QStringLiteral("/strings");
}

void writeTable(const QString& language, const QByteArray& bytes,
                const QString& table = QStringLiteral("Localizable"),
                const QString& root = resourceDir())
{
    const QString dir = root + QLatin1Char('/') + language + QStringLiteral(".lproj");
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + QLatin1Char('/') + table + QStringLiteral(".strings"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
    for (const QChar c : text)
    {
        const char hi = static_cast<char>(c.unicode() >> 8);
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
    }
    return out;
}

void useLanguage(const char* lang)
{
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", lang, 1);
}

std::shared_ptr<Localization::Localizer> init(const QString& dir = resourceDir())
{
    Localization::Initialize(L"AdminConfig", L"Localizable", dir.toStdWString(), nullptr);
    return Localization::GetInstance();
}

std::wstring lookup(const std::wstring& key, const std::string& table = std::string())
{
    return Localization::GetInstance()->GetString(key, table);
}

} // namespace

TEST(LanguageCodeTest, EnvironmentPrecedenceAndNormalization)
{
    setenv("LANG", "fr_FR.UTF-8", 1);
    setenv("LC_MESSAGES", "de_CH.ISO-8859-1@euro", 1);
    setenv("LC_ALL", "it_IT", 1);
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"it_IT");
    unsetenv("LC_ALL");
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"de_CH");
    setenv("LC_MESSAGES", "", 1); // set but empty does not count
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"fr_FR");
    setenv("LANG", "pt-br", 1);
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"pt_BR");
    setenv("LANG", "ja", 1);
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"ja");
    for (const char* english : {"C", "POSIX", "C.UTF-8", "../../etc/x", "de_CH/..", " "})
    {
        setenv("LANG", english, 1);
        EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"en_US") << english;
    }
    unsetenv("LANG");
    EXPECT_EQ(Localization::Localizer::LanguageFromEnvironment(), L"en_US");
}

TEST(LocalizationTest, InstanceLifecycle)
{
    EXPECT_EQ(Localization::GetInstance(), nullptr);
    useLanguage("de_DE.UTF-8");
    auto first = init();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetLanguageCode(), L"de_DE");
    EXPECT_EQ(first->GetApplicationName(), L"AdminConfig");
    Localization::UnInitialize();
    EXPECT_EQ(Localization::GetInstance(), nullptr);
    // A holder keeps a working localizer after the framework is released.
    EXPECT_EQ(first->GetString(L"missing", ""), L"");
}

TEST(LocalizationTest, ReadsUtf8TableWithCommentsEscapesAndBareWords)
{
    useLanguage("en_US");
    writeTable("en_US", "\xEF\xBB\xBF"
                        "/* Menu entries\n   \"fake\" = \"no\"; */\n"
                        "\"&Open\" = \"&\xC3\x96"
                        "ffnen\"; // trailing comment\n"
                        "\"quote\" = \"say \\\"hi\\\"\\\\ \\n\\t\\r end\";\n"
                        "\"unicode\"=\"\\U00e9\\u20AC\\UD83D\\UDE00\";\n"
                        "bare_key.1 = bare/value;\n"
                        "\"self\";\n"
                        "\"multi\" = \"line one\nline two\";\n"
                        "\"dup\" = \"first\"; \"dup\" = \"second\";\n");
    init();
    EXPECT_EQ(lookup(L"&Open"), L"&\u00D6ffnen");
    EXPECT_EQ(lookup(L"quote"), L"say \"hi\"\\ \n\t\r end");
    EXPECT_EQ(lookup(L"unicode"), L"\u00e9\u20ac\U0001F600");
    EXPECT_EQ(lookup(L"bare_key.1"), L"bare/value");
    EXPECT_EQ(lookup(L"self"), L"self");
    EXPECT_EQ(lookup(L"multi"), L"line one\nline two");
    EXPECT_EQ(lookup(L"dup"), L"second");
    EXPECT_EQ(lookup(L"fake"), L"");
    EXPECT_EQ(lookup(L"unknown"), L"");
}

TEST(LocalizationTest, ReadsUtf16TablesWithByteOrderMark)
{
    useLanguage("fr_FR");
    const QString text =
        QStringLiteral("// c\n\"Save\" = \"Enregistrer \u00e9\";\n\"smile\" = \"") +
        QString::fromUcs4(U"\U0001F600", 1) + QStringLiteral("\";\n");
    writeTable("fr_FR", utf16(text, false));
    writeTable("fr", utf16(QStringLiteral("\"Open\" = \"Ouvrir\";"), true));
    init();
    EXPECT_EQ(lookup(L"Save"), L"Enregistrer \u00e9");
    EXPECT_EQ(lookup(L"smile"), L"\U0001F600");
    // Missing in fr_FR: the language without region answers.
    EXPECT_EQ(lookup(L"Open"), L"Ouvrir");
}

TEST(LocalizationTest, MalformedTableKeepsEarlierPairsAndIsReportedOnce)
{
    useLanguage("en_US");
    writeTable("en_US", "\"a\" = \"A\";\n\"b\" = \"B\"\n\"c\" = \"C\";\n");
    writeTable("en", "\"c\" = \"from en\";\n", QStringLiteral("Localizable"));
    writeTable("en_US", "\"x\" = \"X\";\n\"y\" = \"Y\xFF\";\n\"z\" = \"Z\";",
               QStringLiteral("Bytes"));
    writeTable("en_US", "\"p\" = \"P\"; \"q\" = \"\\U12G4\"; \"r\" = \"R\";",
               QStringLiteral("Escape"));
    writeTable("en_US", "\"k\" = \"K\"; /* never closed", QStringLiteral("Comment"));
    QString lone = QStringLiteral("\"u\" = \"U\";\"v\" = \"");
    lone.append(QChar(0xD800)).append(QStringLiteral("\";"));
    writeTable("en_US", utf16(lone, false), QStringLiteral("Surrogate"));
    init();
    g_messages.clear();
    qInstallMessageHandler(collectMessage);
    EXPECT_EQ(lookup(L"a"), L"A");
    EXPECT_EQ(lookup(L"b"), L"");
    EXPECT_EQ(lookup(L"c"), L"from en"); // the faulty table's later keys fall back
    EXPECT_EQ(lookup(L"a"), L"A");
    EXPECT_EQ(g_messages.size(), 1) << g_messages.join('\n').toStdString();
    EXPECT_TRUE(g_messages.value(0).contains(QStringLiteral("line 3")))
        << g_messages.value(0).toStdString();

    EXPECT_EQ(lookup(L"x", "Bytes"), L"X");
    EXPECT_EQ(lookup(L"z", "Bytes"), L"");
    EXPECT_EQ(lookup(L"p", "Escape"), L"P");
    EXPECT_EQ(lookup(L"r", "Escape"), L"");
    EXPECT_EQ(lookup(L"k", "Comment"), L"K");
    EXPECT_EQ(lookup(L"u", "Surrogate"), L"U");
    EXPECT_EQ(lookup(L"v", "Surrogate"), L"");
    EXPECT_EQ(g_messages.size(), 5) << g_messages.join('\n').toStdString();
    qInstallMessageHandler(nullptr);
}

TEST(LocalizationTest, TablesAndLanguagesDoNotLeakIntoEachOther)
{
    useLanguage("de_AT");
    writeTable("de", "\"Exit\" = \"Beenden\";");
    writeTable("de_AT", "\"Exit\" = \"\";\"Yes\" = \"Ja\";", QStringLiteral("Other"));
    writeTable("en_US", "\"No\" = \"Nope\";");
    init();
    EXPECT_EQ(lookup(L"Exit"), L"Beenden"); // empty de_AT value means untranslated
    EXPECT_EQ(lookup(L"Yes"), L"");
    EXPECT_EQ(lookup(L"Yes", "Other"), L"Ja");
    EXPECT_EQ(lookup(L"No"), L""); // no English fallback for a German user
    EXPECT_EQ(lookup(L"Exit", "../de.lproj/Localizable"), L"");
    EXPECT_EQ(lookup(L"Exit", "Absent"), L"");
}

TEST(LocalizationTest, DefaultSearchUsesEnvironmentDirectoryFirst)
{
    useLanguage("C");
    const QString first = QString::fromStdString(TestSupport::testDirectory()) + "/first";
    const QString second = QString::fromStdString(TestSupport::testDirectory()) + "/second";
    writeTable("en_US", "\"one\" = \"1\";", QStringLiteral("Localizable"), first);
    writeTable("en", "\"two\" = \"2\";", QStringLiteral("Localizable"), second);
    setenv("TESSARY_STRINGS_DIR", first.toLocal8Bit().constData(), 1);
    auto localizer = init(QString());
    EXPECT_EQ(localizer->GetLanguageCode(), L"en_US");
    ASSERT_FALSE(localizer->GetSearchDirectories().empty());
    EXPECT_EQ(localizer->GetSearchDirectories().front(), first.toStdWString());
    EXPECT_EQ(lookup(L"one"), L"1");
    EXPECT_EQ(lookup(L"two"), L"");
    // An explicit directory replaces the default search.
    init(second);
    EXPECT_EQ(lookup(L"one"), L"");
    EXPECT_EQ(lookup(L"two"), L"2");
}

TEST(QtStringsTranslatorTest, TranslatesThroughLocalizer)
{
    int argc = 1;
    char name[] = "localization_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    useLanguage("de_DE");
    writeTable("de_DE", "\"&Save\" = \"&Speichern\";\n\"\xC3\x84nderung\" = \"Change\";");

    Localization::QtStringsTranslator global(&app);
    EXPECT_TRUE(global.translate("ctx", "&Save").isNull()); // not initialised yet
    app.installTranslator(&global);
    EXPECT_EQ(QCoreApplication::translate("ctx", "&Save"), QStringLiteral("&Save"));

    init();
    EXPECT_EQ(QCoreApplication::translate("any", "&Save"), QStringLiteral("&Speichern"));
    EXPECT_EQ(global.translate(nullptr, "\xC3\x84nderung", "disambiguation", 3), "Change");
    EXPECT_TRUE(global.translate("ctx", "Unknown").isNull());
    EXPECT_TRUE(global.translate("ctx", nullptr).isNull());
    EXPECT_EQ(QCoreApplication::translate("ctx", "Unknown"), QStringLiteral("Unknown"));

    // A translator given its own localizer does not follow the global one.
    auto own = std::make_shared<Localization::Localizer>(
        L"Test", L"Localizable", std::vector<std::wstring>{resourceDir().toStdWString()}, L"de");
    writeTable("de", "\"&Save\" = \"Sichern\";");
    Localization::QtStringsTranslator local(nullptr, own);
    EXPECT_EQ(local.translate("ctx", "&Save"), QStringLiteral("Sichern"));
    Localization::UnInitialize();
    EXPECT_TRUE(global.translate("ctx", "&Save").isNull());
    EXPECT_EQ(local.translate("ctx", "&Save"), QStringLiteral("Sichern"));
    app.removeTranslator(&global);
}
