#include "AppTestSupport.h"
#include "CliRunner.h"
#include "tests/support/TestEnvironment.h"
#include "tests/validation/LoopbackServers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <csignal>
#include <functional>
#include <sys/types.h>

using namespace AppTest;

namespace
{
class CliCommandTest : public AppFixture
{
};

QJsonObject propertyIn(const QJsonObject& shown, const QString& name)
{
    for (const QJsonValue& value : shown.value("properties").toArray())
    {
        if (value.toObject().value("property").toString() == name)
            return value.toObject();
    }
    return QJsonObject();
}

QString customizationFor(const QString& name, const QString& installer, const QByteArray& body)
{
    return writeFile(name,
                     "<?xml version=\"1.0\"?>\n<AdminCustomization version=\"1.0\" source=\"" +
                         QFile::encodeName(installer) + "\"><properties>" + body +
                         "</properties></AdminCustomization>\n");
}
} // namespace

TEST_F(CliCommandTest, ShowListsPagesAndPropertiesOfInstallersAndCustomizations)
{
    const CCliRun help = runCli({"--help"});
    EXPECT_EQ(0, help.m_iStatus);
    for (const char* command : {"show", "publish", "check", "migrate"})
        EXPECT_TRUE(help.m_sOut.contains(QString::fromLatin1(command))) << command;

    const CCliRun flat = runCli({"show", sample("TessarySample.pkg"), "--json"});
    ASSERT_EQ(0, flat.m_iStatus) << flat.m_sErr.toStdString();
    const QJsonObject shown = QJsonDocument::fromJson(flat.m_sOut.toUtf8()).object();
    EXPECT_EQ("Ombrel Sentinel", shown.value("product").toString());
    EXPECT_EQ("4.2.0.1", shown.value("version").toString());
    EXPECT_EQ("flat package", shown.value("kind").toString());
    QStringList pages;
    for (const QJsonValue& page : shown.value("pages").toArray())
        pages << page.toObject().value("name").toString();
    // The Linux page is for the script installer, Diagnostics only with its option.
    EXPECT_FALSE(pages.contains("LinuxPage"));
    EXPECT_FALSE(pages.contains("DiagnosticsPage"));
    EXPECT_TRUE(pages.contains("ProxyPage"));
    const QJsonObject days = propertyIn(shown, "SENTINEL_QUARANTINE_DAYS");
    EXPECT_EQ("30", days.value("default").toString());
    EXPECT_EQ(1, days.value("minimum").toInt());
    EXPECT_EQ(365, days.value("maximum").toInt());
    EXPECT_EQ("/Applications", propertyIn(shown, "SENTINEL_INSTALL_DIR").value("value").toString());

    const CCliRun script =
        runCli({"show", sample("TessarySample.package"), "--json", "--option", "diagnostics"});
    ASSERT_EQ(0, script.m_iStatus);
    const QJsonObject linux = QJsonDocument::fromJson(script.m_sOut.toUtf8()).object();
    EXPECT_EQ("script installer", linux.value("kind").toString());
    EXPECT_EQ("/opt/ombrel/sentinel",
              propertyIn(linux, "SENTINEL_INSTALL_DIR").value("value").toString());
    EXPECT_EQ("warning", propertyIn(linux, "SENTINEL_LOG_LEVEL").value("value").toString());

    // A customization shows its values over its installer's defaults.
    const QString custom = customizationFor(
        "custom.xml", sample("TessarySample.dmg"),
        "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">console.example</property>");
    const CCliRun text = runCli({"show", custom});
    ASSERT_EQ(0, text.m_iStatus) << text.m_sErr.toStdString();
    EXPECT_TRUE(text.m_sOut.contains("Kind: disk image")) << text.m_sOut.toStdString();
    EXPECT_TRUE(text.m_sOut.contains("value: \"console.example\"")) << text.m_sOut.toStdString();
    EXPECT_TRUE(text.m_sOut.contains("Customization: " + custom));
}

TEST_F(CliCommandTest, BadInputIsRefusedWithItsReasonAndNothingIsWritten)
{
    QDir().mkpath(testPath("out"));
    const QString output = testPath("out/Out.pkg");
    const QString custom = customizationFor("custom.xml", sample("TessarySample.pkg"), "");
    const QString orphan = customizationFor("orphan.xml", testPath("gone/Installer.pkg"), "");
    const QString damaged = writeFile("damaged.xml", "<AdminCustomization><properties>");
    const QString text = writeFile("notes.txt", "hello\n");
    struct CCase
    {
        QStringList m_lArguments;
        QString m_sReason;
    };
    const QList<CCase> cases{
        {{"publish", custom}, "--output"},
        {{"publish", testPath("missing.pkg"), "--output", output}, "does not exist"},
        {{"publish", text, "--output", output}, "neither an installer"},
        {{"publish", damaged, "--output", output}, "damaged"},
        {{"publish", orphan, "--output", output}, "--installer"},
        {{"publish", custom, "--output", output, "--set", "NO_SUCH=1"}, "NO_SUCH"},
        {{"publish", custom, "--output", output, "--set", "SENTINEL_QUARANTINE_DAYS=soon"},
         "whole number"},
        {{"publish", custom, "--output", output, "--set", "SENTINEL_SCAN_SCHEDULE=hourly"},
         "\"daily\""},
        {{"publish", custom, "--output", output, "--frobnicate"}, "--frobnicate"},
        {{"frobnicate"}, "Unknown command"},
        {{}, "No command"}};
    for (const CCase& bad : cases)
    {
        const CCliRun result = runCli(bad.m_lArguments);
        EXPECT_EQ(2, result.m_iStatus) << bad.m_lArguments.join(' ').toStdString();
        EXPECT_TRUE(result.m_sErr.contains(bad.m_sReason))
            << bad.m_sReason.toStdString() << " in " << result.m_sErr.toStdString();
        EXPECT_TRUE(result.m_sOut.isEmpty());
        EXPECT_TRUE(QDir(testPath("out")).isEmpty());
    }
}

TEST_F(CliCommandTest, PublishSetsValuesAndReplacesAnOutputOnlyWithForce)
{
    QDir().mkpath(testPath("out"));
    const QString output = testPath("out/Out.package");
    const QString custom = customizationFor("custom.xml", sample("TessarySample.package"), "");
    const CCliRun first = runCli({"publish", custom, "--output", testPath("out/Out"), "--set",
                                  "SENTINEL_SERVER=first.example"});
    ASSERT_EQ(0, first.m_iStatus) << first.m_sErr.toStdString();
    // Not a terminal: no progress bar in a pipeline's log.
    EXPECT_TRUE(first.m_sErr.isEmpty()) << first.m_sErr.toStdString();
    const QByteArray before = [&]
    {
        QFile file(output);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    EXPECT_TRUE(before.contains("export SENTINEL_SERVER='first.example'"));
    EXPECT_TRUE(QFileInfo(output).isExecutable());

    const CCliRun refused =
        runCli({"publish", custom, "--output", output, "--set", "SENTINEL_SERVER=second.example"});
    EXPECT_EQ(2, refused.m_iStatus);
    EXPECT_TRUE(refused.m_sErr.contains("--force")) << refused.m_sErr.toStdString();
    QFile kept(output);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(before, kept.readAll());
    kept.close();

    const CCliRun forced = runCli({"publish", custom, "--output", output, "--force", "--set",
                                   "SENTINEL_SERVER=second.example"});
    ASSERT_EQ(0, forced.m_iStatus) << forced.m_sErr.toStdString();
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll().contains("export SENTINEL_SERVER='second.example'"));
    // Nothing is left beside the output.
    EXPECT_EQ(QStringList{"Out.package"},
              QDir(testPath("out")).entryList(QDir::Files | QDir::Hidden));

    // An output below a file cannot be written: a failure, not an input error.
    const QString blocker = writeFile("blocker", "x");
    const CCliRun unwritable = runCli({"publish", custom, "--output", blocker + "/Out.package",
                                       "--set", "SENTINEL_SERVER=third.example"});
    EXPECT_EQ(1, unwritable.m_iStatus);
    EXPECT_TRUE(unwritable.m_sErr.contains("Cannot write to file"))
        << unwritable.m_sErr.toStdString();
}

namespace
{
// A page definition whose publish checks fetch addresses, opened directly.
QString checkingDefinition(const QString& name, const QUrl& first, const QUrl& second)
{
    return writeFile(
        name,
        "<?xml version=\"1.0\"?>\n<AdminConfig name=\"Root\" version=\"1.8\" title=\"Checks\">\n"
        "  <validateurl signal=\"validate\" slot=\"validate\" title=\"Servers\">\n"
        "    <url name=\"Health\" u=\"" +
            first.toEncoded() +
            "\" statusValidation=\"2xx\"/>\n"
            "    <url name=\"Catalog\" u=\"" +
            second.toEncoded() +
            "\" statusValidation=\"200\" contentValidation=\"xml\"/>\n"
            "    <action signal=\"failure\" slot=\"messagebox\" severity=\"error\" title=\"Web\" "
            "msg=\"A server does not answer.\"/>\n"
            "  </validateurl>\n"
            "  <action signal=\"validate\" slot=\"equals\" widget=\"Mode\" value=\"manual\">\n"
            "    <action signal=\"success\" slot=\"cancelpublish\" widget=\"Root\"/>\n"
            "  </action>\n"
            "  <action signal=\"validate\" slot=\"cmd\" cmd=\"/bin/true\" os=\"windows\"/>\n"
            "  <pageholder><page name=\"P\" title=\"P\" layout=\"vertical\">\n"
            "    <combobox name=\"Mode\" property=\"MODE\" default=\"auto\">\n"
            "      <entry title=\"Auto\" value=\"auto\"/><entry title=\"Manual\" "
            "value=\"manual\"/>\n"
            "    </combobox>\n"
            "  </page></pageholder>\n</AdminConfig>\n");
}
} // namespace

TEST_F(CliCommandTest, CheckRunsThePublishChecksAgainstRealServers)
{
    ValidationTest::WebServer server;
    ASSERT_TRUE(server.isRunning());
    const QString passing =
        checkingDefinition("pass/Definition.xml", server.url("/ok"), server.url("/xml"));
    const CCliRun pass = runCli({"check", passing, "--json"});
    EXPECT_EQ(0, pass.m_iStatus) << pass.m_sOut.toStdString() << pass.m_sErr.toStdString();
    const QJsonObject passed = QJsonDocument::fromJson(pass.m_sOut.toUtf8()).object();
    EXPECT_TRUE(passed.value("passed").toBool());
    const QJsonArray checks = passed.value("checks").toArray();
    // The "cmd" check is only for Windows, so it is not part of the run.
    ASSERT_EQ(2, checks.size());
    EXPECT_EQ(2, checks.at(0).toObject().value("urls").toArray().size());
    EXPECT_TRUE(server.requests().contains("/ok"));
    EXPECT_TRUE(server.requests().contains("/xml"));

    // A failing address and a value that cancels the publish: both reported.
    const QString failing =
        checkingDefinition("fail/Definition.xml", server.url("/ok"), server.url("/malformed"));
    const CCliRun fail = runCli({"check", failing, "--json", "--set", "MODE=manual"});
    EXPECT_EQ(1, fail.m_iStatus) << fail.m_sOut.toStdString();
    const QJsonObject failed = QJsonDocument::fromJson(fail.m_sOut.toUtf8()).object();
    EXPECT_FALSE(failed.value("passed").toBool());
    const QJsonObject web = failed.value("checks").toArray().at(0).toObject();
    EXPECT_FALSE(web.value("passed").toBool());
    const QJsonArray urls = web.value("urls").toArray();
    ASSERT_EQ(2, urls.size());
    EXPECT_TRUE(urls.at(0).toObject().value("passed").toBool());
    EXPECT_FALSE(urls.at(1).toObject().value("passed").toBool());
    EXPECT_FALSE(urls.at(1).toObject().value("reason").toString().isEmpty());
    EXPECT_FALSE(failed.value("checks").toArray().at(1).toObject().value("passed").toBool());
    // Messages go to standard error.
    EXPECT_TRUE(fail.m_sErr.contains("A server does not answer.")) << fail.m_sErr.toStdString();

    // Nobody listening: the text report names the address; the status says it failed.
    const QUrl nobody(QStringLiteral("http://127.0.0.1:%1/ok").arg(ValidationTest::freePort()));
    const CCliRun refused =
        runCli({"check", checkingDefinition("none/Definition.xml", server.url("/ok"), nobody),
                "--timeout", "5"});
    EXPECT_EQ(1, refused.m_iStatus);
    EXPECT_TRUE(refused.m_sOut.contains("failed  Catalog  " + nobody.toString()))
        << refused.m_sOut.toStdString();
    // What needs a person or runs a program is not done, and not passed either.
    const QString opening = writeFile(
        "open/Definition.xml",
        "<AdminConfig name=\"Root\" version=\"1.8\">\n"
        "  <action signal=\"validate\" slot=\"open\" url=\"https://docs.example/\"/>\n"
        "  <action signal=\"validate\" slot=\"question\" severity=\"information\" title=\"Go\" "
        "msg=\"Go on?\" defaultAnswer=\"yes\">\n"
        "    <action signal=\"failure\" slot=\"cancelpublish\" widget=\"Root\"/>\n"
        "  </action>\n</AdminConfig>\n");
    const CCliRun open = runCli({"check", opening, "--json"});
    EXPECT_EQ(1, open.m_iStatus);
    const QJsonArray ran =
        QJsonDocument::fromJson(open.m_sOut.toUtf8()).object().value("checks").toArray();
    ASSERT_EQ(2, ran.size());
    EXPECT_FALSE(ran.at(0).toObject().value("passed").toBool());
    EXPECT_TRUE(ran.at(1).toObject().value("passed").toBool());
    EXPECT_TRUE(open.m_sErr.contains("cannot run without a window")) << open.m_sErr.toStdString();
    EXPECT_TRUE(open.m_sErr.contains("Answered yes")) << open.m_sErr.toStdString();
    EXPECT_EQ(2, runCli({"check"}).m_iStatus);
    EXPECT_EQ(2, runCli({"check", passing, "--timeout", "0"}).m_iStatus);
}

TEST_F(CliCommandTest, ShowTellsAFlatPackagesSignature)
{
    const QString pki = testPath("pki");
    QDir().mkpath(pki);
    auto sh = [](const QString& command)
    {
        std::string output;
        EXPECT_EQ(0, TestSupport::runCommand(command.toStdString() + " 2>&1", &output))
            << command.toStdString() << "\n"
            << output;
    };
    sh("cd '" + pki +
       "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 "
       "-subj '/CN=Tessary CLI Test Signer' -addext keyUsage=critical,digitalSignature "
       "-addext extendedKeyUsage=codeSigning && openssl pkcs12 -export -inkey key.pem -in "
       "cert.pem -out identity.p12 -passout pass:secret");
    sh("pkgutil --expand '" + sample("TessarySample.pkg") + "' '" + testPath("expanded") +
       "' && TESSARY_SIGN_PASSWORD=secret pkgutil --flatten '" + testPath("expanded") + "' '" +
       testPath("Signed.pkg") + "' --sign-identity '" + pki + "/identity.p12'");

    const CCliRun signedRun = runCli({"show", testPath("Signed.pkg"), "--json"});
    ASSERT_EQ(0, signedRun.m_iStatus) << signedRun.m_sErr.toStdString();
    const QJsonObject signature =
        QJsonDocument::fromJson(signedRun.m_sOut.toUtf8()).object().value("signature").toObject();
    EXPECT_EQ("untrusted", signature.value("state").toString());
    EXPECT_TRUE(signature.value("verifies").toBool());
    EXPECT_FALSE(signature.value("problem").toString().isEmpty());
    const QJsonObject signer = signature.value("chain").toArray().at(0).toObject();
    EXPECT_EQ("Tessary CLI Test Signer", signer.value("name").toString());
    EXPECT_EQ("Tessary CLI Test Signer", signer.value("issuer").toString());
    EXPECT_FALSE(signer.value("expires").toString().isEmpty());

    // What the command line publishes, it signs with a chosen identity; the password
    // comes from a file, never from the command line.
    const QString password = writeFile("pki/password", "secret\n");
    const QString wrong = writeFile("pki/wrong", "guess\n");
    for (const QString& kept : QStringList{password, wrong, pki + "/identity.p12"})
        QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(testPath("out"));
    const QString published = testPath("out/Published.pkg");
    const CCliRun refused =
        runCli({"publish", sample("TessarySample.pkg"), "--output", published, "--sign-identity",
                pki + "/identity.p12", "--sign-password-file", wrong});
    EXPECT_EQ(2, refused.m_iStatus);
    EXPECT_TRUE(refused.m_sErr.contains("cannot sign")) << refused.m_sErr.toStdString();
    const CCliRun bundle =
        runCli({"publish", sample("TessarySample-bundle.pkg"), "--output", published,
                "--sign-identity", pki + "/identity.p12", "--sign-password-file", password, "--set",
                "SENTINEL_SERVER=console.example"});
    EXPECT_EQ(2, bundle.m_iStatus);
    EXPECT_TRUE(bundle.m_sErr.contains("Only flat packages")) << bundle.m_sErr.toStdString();
    EXPECT_TRUE(QDir(testPath("out")).isEmpty());
    const CCliRun signing =
        runCli({"publish", sample("TessarySample.pkg"), "--output", published, "--sign-identity",
                pki + "/identity.p12", "--sign-password-file", password, "--set",
                "SENTINEL_SERVER=console.example"});
    ASSERT_EQ(0, signing.m_iStatus) << signing.m_sErr.toStdString();
    const QJsonObject republished =
        QJsonDocument::fromJson(runCli({"show", published, "--json"}).m_sOut.toUtf8()).object();
    EXPECT_EQ("untrusted", republished.value("signature").toObject().value("state").toString());

    const CCliRun unsignedRun = runCli({"show", sample("TessarySample.pkg")});
    EXPECT_TRUE(unsignedRun.m_sOut.contains("\nSignature: Unsigned installer\n"))
        << unsignedRun.m_sOut.toStdString();
}

TEST_F(CliCommandTest, AnInterruptedPublishLeavesNothingBehind)
{
    // A package large enough that the tools are still at work when the signal comes.
    const QString expanded = testPath("big");
    std::string output;
    ASSERT_EQ(0, TestSupport::runCommand(
                     "pkgutil --expand '" + sample("TessarySample.pkg").toStdString() + "' '" +
                         expanded.toStdString() + "' && head -c 150000000 " + "/dev/urandom > '" +
                         expanded.toStdString() + "/Payload' && pkgutil --flatten '" +
                         expanded.toStdString() + "' '" + testPath("Big.pkg").toStdString() + "'",
                     &output))
        << output;
    // Stopped while the installer is read, and while the tools write the copy (the
    // only time its payload is unpacked).
    const QList<std::function<bool(const QString&)>> moments{
        [](const QString& temporary) { return !QDir(temporary).isEmpty(); },
        [](const QString& temporary)
        {
            QDirIterator it(temporary, {"Payload"}, QDir::Files, QDirIterator::Subdirectories);
            return it.hasNext();
        }};
    for (int i = 0; i < moments.size(); ++i)
    {
        SCOPED_TRACE(i);
        const QString out = testPath(QStringLiteral("out%1").arg(i));
        const QString temporary = testPath(QStringLiteral("tmp%1").arg(i));
        QDir().mkpath(out);
        QDir().mkpath(temporary);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temporary);
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString(TestSupport::binaryDirectory()) + "/app/tessary-cli",
                      {"publish", testPath("Big.pkg"), "--output", out + "/Out.pkg", "--set",
                       "SENTINEL_SERVER=console.example"});
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return moments.at(i)(temporary); }, 30000));
        ::kill(pid_t(process.processId()), SIGTERM);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(QProcess::NormalExit, process.exitStatus());
        EXPECT_EQ(1, process.exitCode());
        EXPECT_TRUE(process.readAllStandardError().contains("nothing was written"));
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        EXPECT_EQ(QStringList(), QDir(out).entryList(all));
        EXPECT_EQ(QStringList(), QDir(temporary).entryList(all));
    }
}

namespace
{
const QString kToken = QStringLiteral("AB12CD34EF56GH78");
const QString kVariable = QStringLiteral("TESSARY_SECRET_SENTINEL_ENROLLMENT_TOKEN");

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

// A customization saved without its enrollment token: show and check never print a
// token, publish takes it from the environment or a secrets file (never --set), and
// without it nothing is written.
TEST_F(CliCommandTest, SecretsLeftOutAreGivenBackWithoutEverBeingShown)
{
    QDir().mkpath(testPath("out"));
    const QString installer = sample("TessarySample.package");
    const QString omitted = customizationFor(
        "omitted.xml", installer,
        "<property name=\"SENTINEL_ENROLLMENT_TOKEN\" widget=\"EnrollmentToken\" "
        "omitted=\"secret\"/><property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">"
        "console.example</property>");
    const QString stored = customizationFor(
        "stored.xml", installer,
        "<property name=\"SENTINEL_ENROLLMENT_TOKEN\" widget=\"EnrollmentToken\">" +
            kToken.toUtf8() + "</property>");

    // show and check, in text and JSON, tell whether a secret is set, not what it is.
    for (const QStringList& arguments :
         {QStringList{"show", stored}, QStringList{"show", stored, "--json"},
          QStringList{"check", stored}, QStringList{"check", stored, "--json"}})
    {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const CCliRun run = runCli(arguments);
        EXPECT_NE(2, run.m_iStatus) << run.m_sErr.toStdString();
        EXPECT_FALSE(run.m_sOut.contains(kToken)) << run.m_sOut.toStdString();
        EXPECT_FALSE(run.m_sErr.contains(kToken)) << run.m_sErr.toStdString();
    }
    const QJsonObject shownStored =
        QJsonDocument::fromJson(runCli({"show", stored, "--json"}).m_sOut.toUtf8()).object();
    EXPECT_EQ("set",
              propertyIn(shownStored, "SENTINEL_ENROLLMENT_TOKEN").value("value").toString());
    EXPECT_TRUE(propertyIn(shownStored, "SENTINEL_ENROLLMENT_TOKEN").value("secret").toBool());
    EXPECT_EQ(
        "console.example",
        propertyIn(
            QJsonDocument::fromJson(runCli({"show", omitted, "--json"}).m_sOut.toUtf8()).object(),
            "SENTINEL_SERVER")
            .value("value")
            .toString());
    EXPECT_TRUE(runCli({"show", omitted}).m_sOut.contains("value: not set"));

    // Refused before anything is written: no value given, or given as an argument.
    const QString output = testPath("out/Sentinel.package");
    const CCliRun missing = runCli({"publish", omitted, "--output", output});
    EXPECT_EQ(2, missing.m_iStatus);
    EXPECT_TRUE(missing.m_sErr.contains("SENTINEL_ENROLLMENT_TOKEN") &&
                missing.m_sErr.contains(kVariable))
        << missing.m_sErr.toStdString();
    const CCliRun argument = runCli(
        {"publish", omitted, "--output", output, "--set", "SENTINEL_ENROLLMENT_TOKEN=" + kToken});
    EXPECT_EQ(2, argument.m_iStatus);
    EXPECT_TRUE(argument.m_sErr.contains(kVariable)) << argument.m_sErr.toStdString();
    EXPECT_FALSE(argument.m_sErr.contains(kToken)) << argument.m_sErr.toStdString();
    EXPECT_TRUE(QDir(testPath("out")).isEmpty());

    // From the environment; the published installer carries the value, the debug
    // log (turned on) does not.
    const CCliRun fromEnvironment =
        runCli({"publish", omitted, "--output", output},
               {{kVariable, kToken}, {"QT_LOGGING_RULES", "*.debug=true"}});
    ASSERT_EQ(0, fromEnvironment.m_iStatus) << fromEnvironment.m_sErr.toStdString();
    EXPECT_TRUE(fromEnvironment.m_sErr.contains("CCliSecrets::fill() begin"));
    EXPECT_FALSE(fromEnvironment.m_sErr.contains(kToken)) << fromEnvironment.m_sErr.toStdString();
    EXPECT_TRUE(
        contentsOf(output).contains("export SENTINEL_ENROLLMENT_TOKEN='" + kToken.toUtf8() + "'"));
    EXPECT_TRUE(contentsOf(output).contains("export SENTINEL_SERVER='console.example'"));

    // From a secrets file, which wins over the environment.
    const QString secrets =
        writeFile("secrets.txt", "# tokens\n\nSENTINEL_ENROLLMENT_TOKEN=ZZ99YY88XX77WW66\r\n");
    QFile::setPermissions(secrets, QFile::ReadOwner | QFile::WriteOwner);
    const QString second = testPath("out/Second.package");
    const CCliRun fromFile = runCli(
        {"publish", omitted, "--output", second, "--secrets-file", secrets}, {{kVariable, kToken}});
    ASSERT_EQ(0, fromFile.m_iStatus) << fromFile.m_sErr.toStdString();
    EXPECT_TRUE(contentsOf(second).contains("export SENTINEL_ENROLLMENT_TOKEN='ZZ99YY88XX77WW66'"));

    // An installer published without a customization gets its secret the same way.
    const QString direct = testPath("out/Direct.package");
    const CCliRun fromInstaller = runCli(
        {"publish", installer, "--output", direct, "--set", "SENTINEL_SERVER=console.example"},
        {{kVariable, kToken}});
    ASSERT_EQ(0, fromInstaller.m_iStatus) << fromInstaller.m_sErr.toStdString();
    EXPECT_TRUE(
        contentsOf(direct).contains("export SENTINEL_ENROLLMENT_TOKEN='" + kToken.toUtf8() + "'"));

    // Secrets files that are not plain, small, well-formed lists of secrets.
    const QString third = testPath("out/Third.package");
    struct CBad
    {
        QString m_sFile;
        const char* m_pReason;
    };
    for (const CBad& bad :
         {CBad{testPath("out"), "not a regular file"},
          CBad{writeFile("big.txt", QByteArray(70 * 1024, 'A')), "larger than"},
          CBad{writeFile("noequals.txt", "SENTINEL_ENROLLMENT_TOKEN\n"), "Line 1"},
          CBad{writeFile("twice.txt", "SENTINEL_ENROLLMENT_TOKEN=" + kToken.toUtf8() +
                                          "\nSENTINEL_ENROLLMENT_TOKEN=" + kToken.toUtf8()),
               "twice"},
          CBad{writeFile("other.txt", "SENTINEL_SERVER=x.example\n"), "no secret"},
          CBad{writeFile("unfit.txt", "SENTINEL_ENROLLMENT_TOKEN=short!\n"), "does not fit"},
          CBad{testPath("absent.txt"), "cannot be read"}})
    {
        SCOPED_TRACE(bad.m_sFile.toStdString());
        if (QFileInfo(bad.m_sFile).isFile())
            QFile::setPermissions(bad.m_sFile, QFile::ReadOwner | QFile::WriteOwner);
        const CCliRun refused =
            runCli({"publish", omitted, "--output", third, "--secrets-file", bad.m_sFile});
        EXPECT_EQ(2, refused.m_iStatus);
        EXPECT_TRUE(refused.m_sErr.contains(bad.m_pReason)) << refused.m_sErr.toStdString();
        EXPECT_FALSE(refused.m_sErr.contains(kToken)) << refused.m_sErr.toStdString();
        EXPECT_FALSE(QFileInfo::exists(third));
    }
}
