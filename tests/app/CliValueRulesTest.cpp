// Values meet their fields' own rules in tessary-cli as in the window: from a
// customization file, from --set and from the secrets' environment, and publish
// runs the checks the window runs first.
#include "AppTestSupport.h"
#include "CliRunner.h"

#include "app/window/AdminPage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

using namespace AppTest;

namespace
{
class CliValueRulesTest : public AppFixture
{
};

QString customization(const QString& name, const QString& installer, const QByteArray& body)
{
    return writeFile(name,
                     "<?xml version=\"1.0\"?>\n<AdminCustomization version=\"1.0\" source=\"" +
                         QFile::encodeName(installer) + "\"><properties>" + body +
                         "</properties></AdminCustomization>\n");
}

QByteArray property(const char* name, const char* widget, const QByteArray& value)
{
    return QByteArray("<property name=\"") + name + "\" widget=\"" + widget + "\" value=\"" +
           value + "\"/>";
}

const QByteArray kServer = property("SENTINEL_SERVER", "ServerAddress", "console.example");

QJsonObject shownProperty(const QString& file, const QString& name)
{
    const CCliRun shown = runCli({"show", file, "--json"});
    EXPECT_EQ(0, shown.m_iStatus) << shown.m_sErr.toStdString();
    for (const QJsonValue& value :
         QJsonDocument::fromJson(shown.m_sOut.toUtf8()).object().value("properties").toArray())
    {
        if (value.toObject().value("property").toString() == name)
            return value.toObject();
    }
    return QJsonObject();
}
} // namespace

// A publish stops where the window's would: a check that cancels it fails it, with
// the same report check gives, and nothing is written.
TEST_F(CliValueRulesTest, PublishRunsTheDefinitionsChecksFirst)
{
    const QString custom =
        customization("manual.xml", sample("TessarySample.package"),
                      kServer + property("SENTINEL_PROXY_MODE", "ProxyMode", "manual"));
    QDir().mkpath(testPath("out"));
    const CCliRun published = runCli({"publish", custom, "--output", testPath("out/Out.package")});
    EXPECT_EQ(1, published.m_iStatus);
    EXPECT_TRUE(published.m_sErr.contains("FAILED: equals ProxyMode"))
        << published.m_sErr.toStdString();
    EXPECT_TRUE(published.m_sErr.contains("no proxy host is given"))
        << published.m_sErr.toStdString();
    EXPECT_TRUE(published.m_sErr.contains("nothing was written"));
    EXPECT_TRUE(QDir(testPath("out")).isEmpty());
    const CCliRun checked = runCli({"check", custom});
    EXPECT_EQ(1, checked.m_iStatus);
    EXPECT_TRUE(published.m_sErr.contains(checked.m_sErr.trimmed()))
        << checked.m_sErr.toStdString();

    // With the host given, the same customization publishes.
    const QString fixed =
        customization("fixed.xml", sample("TessarySample.package"),
                      kServer + property("SENTINEL_PROXY_MODE", "ProxyMode", "manual") +
                          property("SENTINEL_PROXY_HOST", "ProxyHost", "proxy.example"));
    EXPECT_EQ(0, runCli({"publish", fixed, "--output", testPath("out/Out.package")}).m_iStatus);
}

// What a field refuses is never published: the command names the property, the
// value and the rule; what a field changes is published changed and said; what no
// field takes is reported. The window tells the same and keeps Publish from it.
TEST_F(CliValueRulesTest, ValuesOfACustomizationMeetTheirFieldsRules)
{
    QDir().mkpath(testPath("out"));
    const QString output = testPath("out/Out.package");
    struct CRefused
    {
        QByteArray m_sProperty;
        QStringList m_lNamed;
    };
    const QList<CRefused> refused{
        {property("SENTINEL_SERVER", "ServerAddress", "two&#10;lines"),
         {"SENTINEL_SERVER", "\"two\\nlines\"", "line break"}},
        {property("SENTINEL_SERVER_PORT", "ServerPort", "80abc"),
         {"SENTINEL_SERVER_PORT", "\"80abc\"", "whole number"}},
        {property("SENTINEL_ENROLLMENT_TOKEN", "EnrollmentToken", "ab!d1234efgh5678"),
         {"SENTINEL_ENROLLMENT_TOKEN", "secret value", ">NNNNNNNNNNNNNNNN"}},
        {property("SENTINEL_SCAN_SCHEDULE", "ScanSchedule", "hourly"),
         {"SENTINEL_SCAN_SCHEDULE", "\"hourly\"", "\"weekly\""}}};
    for (const CRefused& bad : refused)
    {
        const QString custom = customization("refused.xml", sample("TessarySample.package"),
                                             kServer + bad.m_sProperty);
        const CCliRun run = runCli({"publish", custom, "--output", output});
        EXPECT_EQ(2, run.m_iStatus) << bad.m_sProperty.toStdString();
        for (const QString& named : bad.m_lNamed)
            EXPECT_TRUE(run.m_sErr.contains(named))
                << named.toStdString() << " in " << run.m_sErr.toStdString();
        // A secret's value is never repeated.
        EXPECT_FALSE(run.m_sErr.contains("ab!d")) << run.m_sErr.toStdString();
        EXPECT_TRUE(QDir(testPath("out")).isEmpty());
    }

    const QString adjusted =
        customization("adjusted.xml", sample("TessarySample.package"),
                      kServer + property("SENTINEL_QUARANTINE_DAYS", "QuarantineDays", "999") +
                          property("NOT_IN_THE_INSTALLER", "Nowhere", "x"));
    const CCliRun run = runCli({"publish", adjusted, "--output", output});
    ASSERT_EQ(0, run.m_iStatus) << run.m_sErr.toStdString();
    EXPECT_TRUE(run.m_sErr.contains("SENTINEL_QUARANTINE_DAYS (QuarantineDays): the value \"999\" "
                                    "is outside 1 to 365; it is now \"365\""))
        << run.m_sErr.toStdString();
    EXPECT_TRUE(run.m_sErr.contains("NOT_IN_THE_INSTALLER (Nowhere)")) << run.m_sErr.toStdString();
    EXPECT_TRUE(bytesOf(output).contains("export SENTINEL_QUARANTINE_DAYS='365'"));
    const CCliRun shown = runCli({"show", adjusted, "--json"});
    const QJsonArray notes =
        QJsonDocument::fromJson(shown.m_sOut.toUtf8()).object().value("notes").toArray();
    ASSERT_EQ(2, notes.size()) << shown.m_sOut.toStdString();
    EXPECT_EQ("adjusted", notes.at(0).toObject().value("kind").toString());
    EXPECT_EQ("365", notes.at(0).toObject().value("newValue").toString());
    EXPECT_EQ("unknown", notes.at(1).toObject().value("kind").toString());

    // The window lists the same after loading, and refuses to publish a value its field
    // refused until the field is changed.
    const QString port = customization("port.xml", sample("TessarySample.package"),
                                       kServer + refused.at(1).m_sProperty);
    CModalAnswerer answers({acceptReview});
    CAdminPage window(port, QStringList());
    ASSERT_EQ(1, answers.m_lTexts.size());
    EXPECT_TRUE(answers.m_lTexts.first().contains("SENTINEL_SERVER_PORT (ServerPort): the value "
                                                  "\"80abc\" is not taken by its field"))
        << answers.m_lTexts.first().toStdString();
    QLineEdit* const field = window.findChild<QLineEdit*>("ServerPort");
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->property("refused").toBool());
    EXPECT_TRUE(field->toolTip().contains("whole number")) << field->toolTip().toStdString();
    answers.clear();
    window.publish();
    ASSERT_EQ(1, answers.m_lTexts.size());
    EXPECT_TRUE(answers.m_lTexts.first().startsWith("Tessary cannot publish"))
        << answers.m_lTexts.first().toStdString();
    EXPECT_TRUE(answers.m_lFileCaptions.isEmpty());
    // Corrected, the field loses its mark and Publish goes on to ask for the output.
    field->setText("8080");
    EXPECT_FALSE(field->property("refused").toBool());
    answers.clear();
    window.publish();
    EXPECT_FALSE(answers.m_lTexts.join('\n').contains("cannot publish"))
        << answers.m_lTexts.join('\n').toStdString();
    EXPECT_EQ(1, answers.m_lFileCaptions.size());
}

// The token field's input mask upper-cases what is typed; the same token from the
// environment is taken the same way, and never printed.
TEST_F(CliValueRulesTest, ASecretFromTheEnvironmentIsTakenAsTheFieldTakesIt)
{
    QDir().mkpath(testPath("out"));
    const QString output = testPath("out/Out.package");
    const CCliRun run = runCli({"publish", sample("TessarySample.package"), "--output", output,
                                "--set", "SENTINEL_SERVER=console.example"},
                               {{"TESSARY_SECRET_SENTINEL_ENROLLMENT_TOKEN", "abcd1234efgh5678"}});
    ASSERT_EQ(0, run.m_iStatus) << run.m_sErr.toStdString();
    EXPECT_TRUE(bytesOf(output).contains("export SENTINEL_ENROLLMENT_TOKEN='ABCD1234EFGH5678'"));
    EXPECT_TRUE(run.m_sErr.contains("letter case")) << run.m_sErr.toStdString();
    EXPECT_FALSE(run.m_sErr.contains("abcd1234", Qt::CaseInsensitive)) << run.m_sErr.toStdString();
}

// "$AI_" values stay in the customization: show does not call them published.
TEST_F(CliValueRulesTest, ShowCallsPublishedOnlyWhatIsHandedOn)
{
    const QString custom =
        customization("notes.xml", sample("TessarySample.pkg"),
                      kServer + property("$AI_AdminNotes", "AdminNotes", "for the records"));
    const QJsonObject notes = shownProperty(custom, "$AI_AdminNotes");
    EXPECT_EQ("for the records", notes.value("value").toString());
    EXPECT_FALSE(notes.value("published").toBool());
    EXPECT_TRUE(shownProperty(custom, "SENTINEL_SERVER").value("published").toBool());
}

// With a source date, publishing the same customization again later gives the same
// bytes; without one, the archive records the time it was made, as before.
TEST_F(CliValueRulesTest, ASourceDateMakesTheSameInstallerEveryTime)
{
    const QString custom = customization("same.xml", sample("TessarySample.pkg"), kServer);
    QDir().mkpath(testPath("out"));
    const QMap<QString, QString> dated{{"SOURCE_DATE_EPOCH", "1700000000"}};
    auto publish = [&](const QString& name, const QMap<QString, QString>& environment)
    {
        const QString output = testPath("out/" + name);
        const CCliRun run = runCli({"publish", custom, "--output", output}, environment);
        EXPECT_EQ(0, run.m_iStatus) << run.m_sErr.toStdString();
        const QByteArray bytes = bytesOf(output);
        QFile::remove(output);
        return bytes;
    };
    const QByteArray first = publish("Out.pkg", dated);
    const QByteArray undated = publish("Out.pkg", {});
    // The archive's times are whole seconds.
    QThread::sleep(1);
    EXPECT_EQ(first, publish("Out.pkg", dated));
    EXPECT_NE(undated, publish("Out.pkg", {}));
}
