#include "AppTestSupport.h"
#include "CliRunner.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace AppTest;

namespace
{
class CliDiffTest : public AppFixture
{
};

QString customization(const QString& name, const QString& installer, const QByteArray& body)
{
    return writeFile(name,
                     "<?xml version=\"1.0\"?>\n<AdminCustomization version=\"1.0\" source=\"" +
                         QFile::encodeName(installer) + "\"><properties>\n" + body +
                         "</properties></AdminCustomization>\n");
}

QByteArray property(const QByteArray& name, const QByteArray& widget, const QByteArray& value)
{
    return "<property name=\"" + name + "\" widget=\"" + widget + "\">" + value + "</property>\n";
}

QStringList lines(const QString& text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

QString cli()
{
    return QString::fromStdString(TestSupport::binaryDirectory()) + "/app/tessary-cli";
}
} // namespace

TEST_F(CliDiffTest, TwoCustomizationsDifferInDefinitionOrderWithSecretsHidden)
{
    // The proxy user is secret by its element only, which the files do not say.
    const QString installer =
        scriptRelease("Sentinel.package", "4.2.1",
                      [](QByteArray d) {
                          return d.replace("<lineedit name=\"ProxyUser\"",
                                           "<lineedit secret=\"1\" name=\"ProxyUser\"");
                      });
    const QByteArray longValue(250, 'x');
    const QString a =
        customization("a.xml", installer,
                      property("SENTINEL_SERVER", "ServerAddress", "one.example") +
                          property("SENTINEL_PROXY_PORT", "ProxyPort", "8080") +
                          property("SENTINEL_ENROLLMENT_TOKEN", "EnrollmentToken", "AB12CD34") +
                          property("SENTINEL_PROXY_USER", "ProxyUser", "alice") +
                          property("SENTINEL_LOG_LEVEL", "LogLevel", "warning") +
                          property("OLD_ONLY", "Old", "x"));
    const QString b =
        customization("b.xml", installer,
                      property("SENTINEL_SERVER", "ServerAddress", "two&#10;&#x202e;.example") +
                          property("SENTINEL_PROXY_PORT", "ProxyPort", "3128") +
                          property("SENTINEL_ENROLLMENT_TOKEN", "EnrollmentToken", "EF56GH78") +
                          property("SENTINEL_PROXY_USER", "ProxyUser", "bob") +
                          property("SENTINEL_LOG_LEVEL", "LogLevel", "warning") +
                          property("SENTINEL_LOG_DIR", "LogFolder", longValue));

    const CCliRun same = runCli({"diff", a, a});
    EXPECT_EQ(0, same.m_iStatus) << same.m_sErr.toStdString();
    EXPECT_TRUE(same.m_sOut.isEmpty());

    const CCliRun text = runCli({"diff", a, b});
    ASSERT_EQ(1, text.m_iStatus) << text.m_sErr.toStdString();
    // The server comes before its port on the page, though not by name; what the
    // installer lacks (the log folder is on a page shown only with an option) follows by
    // name.
    EXPECT_EQ((QStringList{"~ SENTINEL_SERVER: \"one.example\" -> \"two\\n\\u202e.example\"",
                           "~ SENTINEL_ENROLLMENT_TOKEN: (secret, changed)",
                           "~ SENTINEL_PROXY_PORT: \"8080\" -> \"3128\"",
                           "~ SENTINEL_PROXY_USER: (secret, changed)", "- OLD_ONLY: \"x\"",
                           "+ SENTINEL_LOG_DIR: \"" + QString(200, 'x') +
                               "\"... (250 characters in all)"}),
              lines(text.m_sOut));

    const CCliRun json = runCli({"diff", a, b, "--json"});
    ASSERT_EQ(1, json.m_iStatus);
    for (const char* secret : {"AB12CD34", "EF56GH78", "alice", "bob"})
    {
        EXPECT_FALSE(text.m_sOut.contains(secret)) << secret;
        EXPECT_FALSE(json.m_sOut.contains(secret)) << secret;
    }
    const QJsonObject report = QJsonDocument::fromJson(json.m_sOut.toUtf8()).object();
    EXPECT_EQ(a, report.value("a").toString());
    EXPECT_EQ(b, report.value("b").toString());
    QMap<QString, QJsonObject> changes;
    for (const QJsonValue& change : report.value("changes").toArray())
        changes.insert(change.toObject().value("property").toString(), change.toObject());
    ASSERT_EQ(6, changes.size());
    EXPECT_EQ("two\n\u202e.example", changes["SENTINEL_SERVER"].value("to").toString());
    EXPECT_EQ("added", changes["SENTINEL_LOG_DIR"].value("change").toString());
    EXPECT_TRUE(changes["SENTINEL_LOG_DIR"].value("from").isNull());
    EXPECT_EQ(QString(longValue), changes["SENTINEL_LOG_DIR"].value("to").toString());
    EXPECT_EQ("removed", changes["OLD_ONLY"].value("change").toString());
    EXPECT_TRUE(changes["SENTINEL_PROXY_USER"].value("secret").toBool());
    EXPECT_FALSE(changes["SENTINEL_PROXY_PORT"].value("secret").toBool());
}

TEST_F(CliDiffTest, ComparesWithTheDefaultsAndWithAnotherReleaseWithoutWriting)
{
    const QString previous =
        scriptRelease("old/Sentinel.package", "4.2.1", [](QByteArray d) { return d; });
    const QString next = scriptRelease(
        "new/Sentinel.package", "4.3.0",
        [](QByteArray d)
        {
            d.replace("default=\"8443\" row=\"3\"", "default=\"9443\" row=\"3\"");
            d.replace("property=\"SENTINEL_CA_FILE\"", "");
            d.replace("maximum=\"365\"", "maximum=\"90\"");
            return d.replace("<label title=\"Notes for your records",
                             "<lineedit name=\"Tenant\" property=\"SENTINEL_TENANT\" "
                             "default=\"main\"/>\n<label title=\"Notes for your records");
        });
    const QString custom =
        customization("old/custom.xml", previous,
                      property("SENTINEL_SERVER", "ServerAddress", "kept.example") +
                          property("SENTINEL_CA_FILE", "CaCertificate", "/ca.pem") +
                          property("SENTINEL_QUARANTINE_DAYS", "QuarantineDays", "200") +
                          property("SENTINEL_SCAN_HOUR", "ScanHour", "2"));

    // Against its own installer: the scan hour is its default, so no difference.
    const CCliRun defaults = runCli({"diff", custom});
    ASSERT_EQ(1, defaults.m_iStatus) << defaults.m_sErr.toStdString();
    EXPECT_EQ((QStringList{"~ SENTINEL_SERVER: \"\" -> \"kept.example\"",
                           "~ SENTINEL_CA_FILE: \"\" -> \"/ca.pem\"",
                           "~ SENTINEL_QUARANTINE_DAYS: \"30\" -> \"200\""}),
              lines(defaults.m_sOut));

    const QStringList before = QDir(testPath("old")).entryList(QDir::Files);
    const CCliRun carried = runCli({"diff", custom, "--to", next, "--json"});
    ASSERT_EQ(1, carried.m_iStatus) << carried.m_sErr.toStdString();
    QMap<QString, QJsonObject> changes;
    for (const QJsonValue& change :
         QJsonDocument::fromJson(carried.m_sOut.toUtf8()).object().value("changes").toArray())
        changes.insert(change.toObject().value("property").toString(), change.toObject());
    EXPECT_EQ((QStringList{"SENTINEL_CA_FILE", "SENTINEL_QUARANTINE_DAYS", "SENTINEL_SERVER_PORT",
                           "SENTINEL_TENANT"}),
              changes.keys());
    EXPECT_EQ("removed", changes["SENTINEL_CA_FILE"].value("change").toString());
    EXPECT_EQ("90", changes["SENTINEL_QUARANTINE_DAYS"].value("to").toString());
    // Not in the customization: its default moves with the release.
    EXPECT_EQ("8443", changes["SENTINEL_SERVER_PORT"].value("from").toString());
    EXPECT_EQ("9443", changes["SENTINEL_SERVER_PORT"].value("to").toString());
    EXPECT_EQ("added", changes["SENTINEL_TENANT"].value("change").toString());
    EXPECT_EQ(before, QDir(testPath("old")).entryList(QDir::Files));
    EXPECT_TRUE(QDir(testPath("new")).entryList(QDir::Files).contains("Sentinel.package"));
    EXPECT_EQ(1, QDir(testPath("new")).entryList(QDir::Files).size());

    // Carried to its own release, nothing changes.
    EXPECT_EQ(0, runCli({"diff", custom, "--to", previous}).m_iStatus);
}

TEST_F(CliDiffTest, UsageAndUnreadableInputAreStatusTwoNamingTheFile)
{
    const CCliRun version = runCli({"--version"});
    EXPECT_EQ(0, version.m_iStatus);
    EXPECT_EQ("tessary-cli " TESSARY_TEST_VERSION "\n", version.m_sOut.toStdString());
    EXPECT_TRUE(runCli({"--help"}).m_sOut.contains("diff CUSTOMIZATION"));

    const QString good = customization("good.xml", sample("TessarySample.pkg"), "");
    const QString definition = writeFile("AdminConfig.xml", "<AdminConfig version=\"1.8\"/>");
    const QString damaged = writeFile("damaged.xml", "<AdminCustomization><properties>");
    struct CCase
    {
        QStringList m_lArguments;
        QString m_sReason;
    };
    for (const CCase& bad :
         QList<CCase>{{{"diff"}, "one customization, or two"},
                      {{"diff", good, testPath("missing.xml")}, testPath("missing.xml")},
                      {{"diff", good, definition}, "is no customization"},
                      {{"diff", damaged, good}, "damaged"},
                      {{"diff", good, good, "--to", sample("TessarySample.pkg")}, "not both"},
                      {{"diff", good, "--to", good}, "needs an installer"},
                      {{"diff", good, "--frobnicate"}, "--frobnicate"},
                      {{"show", "--values", testPath("missing.xml")}, "does not exist"}})
    {
        const CCliRun result = runCli(bad.m_lArguments);
        EXPECT_EQ(2, result.m_iStatus) << bad.m_lArguments.join(' ').toStdString();
        EXPECT_TRUE(result.m_sErr.contains(bad.m_sReason))
            << bad.m_sReason.toStdString() << " in " << result.m_sErr.toStdString();
        EXPECT_TRUE(result.m_sOut.isEmpty()) << result.m_sOut.toStdString();
    }
}

// git shows a customization's changes as changed values, through show --values.
TEST_F(CliDiffTest, GitDiffShowsValuesThroughTextconv)
{
    const QString repository = testPath("repo");
    QDir().mkpath(repository);
    const QString git = "git -C " + shellQuoted(repository) + " ";
    runShell(git + "init -q && " + git + "config user.email ci@example.org && " + git +
             "config user.name CI && " + git + "config diff.tessary.textconv " +
             shellQuoted(shellQuoted(cli()) + " show --values"));
    writeFile("repo/.gitattributes", "*.xml diff=tessary\n");
    const QByteArray definition =
        "<AdminConfig version=\"1.8\">\n<page name=\"P\"/>\n</AdminConfig>\n";
    writeFile("repo/AdminConfig.xml", definition);
    const auto site = [&](const QByteArray& server, const QByteArray& token)
    {
        customization("repo/site.xml", "Sentinel.pkg",
                      property("SENTINEL_SERVER", "ServerAddress", server) +
                          property("SENTINEL_ENROLLMENT_TOKEN", "EnrollmentToken", token) +
                          property("SENTINEL_SCAN_HOUR", "ScanHour", "2"));
    };
    site("one.example", "AB12CD34");
    runShell(git + "add -A && " + git + "commit -q -m first");
    site("two.example", "");
    writeFile("repo/AdminConfig.xml", definition + "<!-- more -->\n");

    const QString diff = QString::fromStdString(runShell(git + "diff"));
    EXPECT_TRUE(
        diff.contains("\n-SENTINEL_SERVER: \"one.example\"\n+SENTINEL_SERVER: \"two.example\"\n"))
        << diff.toStdString();
    EXPECT_TRUE(diff.contains("\n-SENTINEL_ENROLLMENT_TOKEN: (secret, set)\n"
                              "+SENTINEL_ENROLLMENT_TOKEN: (secret, not set)\n"))
        << diff.toStdString();
    EXPECT_FALSE(diff.contains("AB12CD34") || diff.contains("-SENTINEL_SCAN_HOUR"))
        << diff.toStdString();
    // Any other XML file diffs as its text.
    EXPECT_TRUE(diff.contains("\n+<!-- more -->\n")) << diff.toStdString();
}
