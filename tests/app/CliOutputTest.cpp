#include "AppTestSupport.h"
#include "CliRunner.h"
#include "tests/support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace AppTest;

// What the command line writes, it writes as a pipeline on a shared packaging server
// needs: never through a link, never over another run's output, never readable by
// others when it holds secrets, and nothing left behind by a killed run.
namespace
{
class CliOutputTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        m_previousMask = ::umask(022);
    }
    void TearDown() override
    {
        ::umask(m_previousMask);
        AppFixture::TearDown();
    }

    mode_t m_previousMask = 022;
};

const QString kVariable = QStringLiteral("TESSARY_SECRET_SENTINEL_ENROLLMENT_TOKEN");

// The sample's checks want a management server; a publish here always names one.
QStringList withServer(QStringList arguments)
{
    if (arguments.first() == QLatin1String("publish") &&
        !arguments.join(' ').contains(QLatin1String("SENTINEL_SERVER=")))
        arguments << QStringLiteral("--set") << QStringLiteral("SENTINEL_SERVER=console.example");
    return arguments;
}

CCliRun run(const QStringList& arguments,
            const QMap<QString, QString>& environment = QMap<QString, QString>())
{
    return runCli(withServer(arguments), environment);
}

bool isLink(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
}

mode_t modeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777
                                                                      : mode_t(-1);
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// Whether a running process names path on its command line (a tool still at work).
bool anyProcessMentions(const QString& path)
{
    const QByteArray wanted = QFile::encodeName(path);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
    {
        bool number = false;
        entry.toInt(&number);
        if (!number)
            continue;
        QFile commandLine(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains(wanted))
            return true;
    }
    return false;
}

QString sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file)
               ? QString::fromLatin1(hash.result().toHex())
               : QString();
}

// The installer kinds and the output each publishes.
struct CKind
{
    const char* m_sInstaller;
    const char* m_sOutput;
};
const CKind kKinds[] = {{"TessarySample.pkg", "flat.pkg"},
                        {"TessarySample.dmg", "image.pkg"},
                        {"TessarySample-bundle.pkg", "bundle.pkg"},
                        {"TessarySample.mpkg", "meta.mpkg"},
                        {"TessarySample.package", "script.package"}};
} // namespace

TEST_F(CliOutputTest, ALinkAtTheOutputIsReplacedAndItsTargetNeverTouched)
{
    for (const CKind& kind : kKinds)
    {
        SCOPED_TRACE(kind.m_sInstaller);
        const QString folder = testPath(QStringLiteral("v-") + kind.m_sOutput);
        QDir().mkpath(folder);
        writeFile(QStringLiteral("v-%1/keep.txt").arg(kind.m_sOutput), "keep");
        const QString output = testPath(kind.m_sOutput);
        ASSERT_TRUE(QFile::link(folder, output));
        const CCliRun forced = run({"publish", sample(kind.m_sInstaller), "--output", output,
                                    "--force", "--set", "SENTINEL_SERVER=linked.example"});
        EXPECT_EQ(0, forced.m_iStatus) << forced.m_sErr.toStdString();
        EXPECT_EQ(QStringList{"keep.txt"}, entriesOf(folder));
        EXPECT_EQ("keep", bytesOf(folder + "/keep.txt"));
        EXPECT_FALSE(isLink(output));
        EXPECT_TRUE(QFileInfo::exists(output));

        // A dangling link is something at the path too: without --force it stays, and
        // its target is never made.
        const QString dangling = testPath(QStringLiteral("dangling-") + kind.m_sOutput);
        const QString target = testPath(QStringLiteral("nowhere/") + kind.m_sOutput);
        ASSERT_TRUE(QFile::link(target, dangling));
        const CCliRun refused = run({"publish", sample(kind.m_sInstaller), "--output", dangling});
        EXPECT_EQ(2, refused.m_iStatus);
        EXPECT_TRUE(refused.m_sErr.contains("already exists")) << refused.m_sErr.toStdString();
        EXPECT_TRUE(isLink(dangling));
        EXPECT_EQ(
            0,
            run({"publish", sample(kind.m_sInstaller), "--output", dangling, "--force"}).m_iStatus);
        EXPECT_FALSE(isLink(dangling));
        EXPECT_FALSE(QFileInfo::exists(testPath("nowhere")));
    }

    // migrate writes the same way: the link's target keeps its bytes.
    const QString customization = testPath("custom.xml");
    ASSERT_EQ(0, run({"publish", sample("TessarySample.pkg"), "--output",
                      testPath("for-migrate.pkg"), "--set", "SENTINEL_SERVER=m.example"})
                     .m_iStatus);
    const CCliRun saved = run({"migrate", testPath("for-migrate.pkg"), "--to",
                               sample("TessarySample.pkg"), "--output", customization});
    ASSERT_EQ(0, saved.m_iStatus) << saved.m_sErr.toStdString();
    const QString kept = writeFile("kept.xml", "someone else's file");
    ASSERT_TRUE(QFile::link(kept, testPath("link.xml")));
    EXPECT_EQ(2, run({"migrate", customization, "--to", sample("TessarySample.pkg"), "--output",
                      testPath("link.xml")})
                     .m_iStatus);
    EXPECT_EQ(0, run({"migrate", customization, "--to", sample("TessarySample.pkg"), "--output",
                      testPath("link.xml"), "--force"})
                     .m_iStatus);
    EXPECT_EQ("someone else's file", bytesOf(kept));
    EXPECT_FALSE(isLink(testPath("link.xml")));
    EXPECT_TRUE(bytesOf(testPath("link.xml")).contains("m.example"));
    ASSERT_TRUE(QFile::link(testPath("absent/made.xml"), testPath("dangling.xml")));
    EXPECT_EQ(2, run({"migrate", customization, "--to", sample("TessarySample.pkg"), "--output",
                      testPath("dangling.xml")})
                     .m_iStatus);
    EXPECT_FALSE(QFileInfo::exists(testPath("absent")));
}

TEST_F(CliOutputTest, AFailedForcedPublishKeepsThePreviousOutputWhateverItIs)
{
    // A flat package larger than the small file system it is published to.
    const QString large = largeFlatPackage("Large.pkg", 2000000);
    const QString directory = testPath("small");
    const std::shared_ptr<void> mounted = mountSmallFileSystem(directory, "1m");
    if (!mounted)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    // The earlier output is a folder (a bundle published under the same name, say).
    const QString output = directory + "/Out.pkg";
    QDir().mkpath(output);
    writeFile("small/Out.pkg/earlier.txt", "earlier");
    const CCliRun failed = run({"publish", large, "--output", output, "--force"});
    EXPECT_EQ(1, failed.m_iStatus) << failed.m_sErr.toStdString();
    EXPECT_EQ(QStringList{"earlier.txt"}, entriesOf(output));
    EXPECT_EQ(QStringList{"Out.pkg"}, entriesOf(directory));
}

TEST_F(CliOutputTest, OfTwoPublishesToOneNewOutputExactlyOneSucceeds)
{
    for (const char* installer : {"TessarySample.pkg", "TessarySample.package"})
    {
        for (int round = 0; round < 3; ++round)
        {
            SCOPED_TRACE(std::string(installer) + " " + std::to_string(round));
            const QString output = testPath(QStringLiteral("race%1-%2").arg(round).arg(installer));
            std::unique_ptr<QProcess> runs[2];
            for (auto& process : runs)
            {
                process.reset(new QProcess);
                process->start(QString::fromStdString(TestSupport::binaryDirectory()) +
                                   "/app/tessary-cli",
                               withServer({"publish", sample(installer), "--output", output}));
            }
            int succeeded = 0;
            for (auto& process : runs)
            {
                ASSERT_TRUE(process->waitForFinished(120000));
                if (process->exitCode() == 0)
                    ++succeeded;
                else
                {
                    EXPECT_EQ(2, process->exitCode());
                    EXPECT_TRUE(process->readAllStandardError().contains("already exists"));
                }
            }
            EXPECT_EQ(1, succeeded);
            EXPECT_TRUE(QFileInfo::exists(output));
        }
    }
    // Nothing of the loser stays beside the output.
    for (const QString& entry : entriesOf(testPath(".")))
        EXPECT_FALSE(entry.startsWith(".Tessary")) << entry.toStdString();
}

TEST_F(CliOutputTest, EveryKindCreatesAMissingOutputFolderAndRefusesItsOwnInstaller)
{
    for (const CKind& kind : kKinds)
    {
        SCOPED_TRACE(kind.m_sInstaller);
        const QString output = testPath(QStringLiteral("new/deeper/") + kind.m_sOutput);
        const CCliRun made = run({"publish", sample(kind.m_sInstaller), "--output", output});
        EXPECT_EQ(0, made.m_iStatus) << made.m_sErr.toStdString();
        EXPECT_TRUE(QFileInfo::exists(output));
    }
    const QString installer = testPath("Own.package");
    ASSERT_TRUE(QFile::copy(sample("TessarySample.package"), installer));
    const CCliRun own = run({"publish", installer, "--output", installer, "--force"});
    EXPECT_EQ(2, own.m_iStatus);
    EXPECT_TRUE(own.m_sErr.contains("is the installer being published"))
        << own.m_sErr.toStdString();
    EXPECT_EQ(bytesOf(sample("TessarySample.package")), bytesOf(installer));
}

TEST_F(CliOutputTest, SecretsAtRestAreTheOwnersAlone)
{
    // A secrets file others may read or write is refused, naming its mode.
    const QString secrets = writeFile("secrets", "SENTINEL_ENROLLMENT_TOKEN=AB12CD34EF56GH78\n");
    for (const mode_t mode : {0644, 0666, 0640})
    {
        SCOPED_TRACE(mode);
        ASSERT_EQ(0, ::chmod(QFile::encodeName(secrets).constData(), mode));
        const CCliRun refused = run({"publish", sample("TessarySample.package"), "--output",
                                     testPath("refused.package"), "--secrets-file", secrets});
        EXPECT_EQ(2, refused.m_iStatus);
        EXPECT_TRUE(refused.m_sErr.contains(QStringLiteral("mode 0%1").arg(mode, 0, 8)))
            << refused.m_sErr.toStdString();
        EXPECT_FALSE(QFileInfo::exists(testPath("refused.package")));
    }
    const CCliRun allowed =
        run({"publish", sample("TessarySample.package"), "--output", testPath("allowed.package"),
             "--secrets-file", secrets, "--allow-insecure-secrets-file"});
    EXPECT_EQ(0, allowed.m_iStatus) << allowed.m_sErr.toStdString();
    EXPECT_TRUE(allowed.m_sErr.contains("warning")) << allowed.m_sErr.toStdString();

    // Under umask 022 a customization holding a secret is made 0600, one without 0644.
    ASSERT_EQ(0, run({"publish", sample("TessarySample.pkg"), "--output", testPath("secret.pkg")},
                     {{kVariable, "AB12CD34EF56GH78"}})
                     .m_iStatus);
    ASSERT_EQ(0, run({"migrate", testPath("secret.pkg"), "--to", sample("TessarySample.pkg"),
                      "--output", testPath("secret.xml")})
                     .m_iStatus);
    EXPECT_TRUE(bytesOf(testPath("secret.xml")).contains("AB12CD34EF56GH78"));
    EXPECT_EQ(mode_t(0600), modeOf(testPath("secret.xml")));
    ASSERT_EQ(0, run({"publish", sample("TessarySample.pkg"), "--output", testPath("plain.pkg"),
                      "--set", "SENTINEL_SERVER=plain.example"})
                     .m_iStatus);
    ASSERT_EQ(0, run({"migrate", testPath("plain.pkg"), "--to", sample("TessarySample.pkg"),
                      "--output", testPath("plain.xml")})
                     .m_iStatus);
    EXPECT_EQ(mode_t(0644), modeOf(testPath("plain.xml")));
}

TEST_F(CliOutputTest, KilledPublishesLeaveNothingOthersCanReadAndTheNextRunCleansUp)
{
    const QString big = largeFlatPackage("Big.pkg", 30000000);
    const QString temporary = testPath("tmp");
    const QString out = testPath("out");
    QDir().mkpath(temporary);
    QDir().mkpath(out);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temporary);
    environment.insert(kVariable, QStringLiteral("AB12CD34EF56GH78"));
    const QString cli = QString::fromStdString(TestSupport::binaryDirectory()) + "/app/tessary-cli";
    bool leftovers = false;
    // Killed at different moments: reading the installer, writing the values, expanding
    // it, flattening the copy beside the output; each a few times over.
    const auto anyIn = [](const QString& folder, const QString& pattern)
    {
        QDirIterator it(folder, {pattern},
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        return it.hasNext();
    };
    const QList<std::function<bool()>> moments{[&] { return !entriesOf(temporary).isEmpty(); },
                                               [&] { return anyIn(temporary, "Tessary-values-*"); },
                                               [&] { return anyIn(temporary, "Payload"); },
                                               [&] { return anyIn(out, ".Tessary-*"); }};
    for (int round = 0; round < 2 * moments.size(); ++round)
    {
        SCOPED_TRACE(round);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(cli, {"publish", big, "--output", out + "/Out.pkg", "--force", "--set",
                            "SENTINEL_SERVER=killed.example"});
        ASSERT_TRUE(process.waitForStarted());
        const std::function<bool()>& moment = moments.at(round % moments.size());
        while (process.state() == QProcess::Running && !moment())
            QThread::usleep(500);
        process.kill();
        ASSERT_TRUE(process.waitForFinished(30000));
        // The tools it had started end by themselves; wait for them.
        waitFor([&] { return !anyProcessMentions(temporary); });
        for (const QString& folder : {temporary, out})
        {
            QDirIterator it(folder,
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            while (it.hasNext())
            {
                const QString path = it.next();
                if (QFileInfo(path).fileName() == QLatin1String("Out.pkg"))
                    continue;
                leftovers = true;
                EXPECT_EQ(0u, modeOf(path) & 077) << path.toStdString();
            }
        }
    }
    // Some kill came while work files stood, or the test proves nothing.
    EXPECT_TRUE(leftovers);
    QProcess last;
    last.setProcessEnvironment(environment);
    last.start(cli, {"publish", big, "--output", out + "/Out.pkg", "--force", "--set",
                     "SENTINEL_SERVER=last.example"});
    ASSERT_TRUE(last.waitForFinished(120000));
    EXPECT_EQ(0, last.exitCode()) << last.readAllStandardError().toStdString();
    EXPECT_EQ(QStringList(), entriesOf(temporary));
    EXPECT_EQ(QStringList{"Out.pkg"}, entriesOf(out));
}

TEST_F(CliOutputTest, DryRunWritesNothingAndJsonReportsWhatWasWritten)
{
    const QString output = testPath("out/Report.pkg");
    const CCliRun dry =
        run({"publish", sample("TessarySample.pkg"), "--output", output, "--dry-run", "--json"});
    ASSERT_EQ(0, dry.m_iStatus) << dry.m_sErr.toStdString();
    const QJsonObject planned = QJsonDocument::fromJson(dry.m_sOut.toUtf8()).object();
    EXPECT_TRUE(planned.value("dryRun").toBool());
    EXPECT_EQ(output, planned.value("output").toString());
    EXPECT_FALSE(QFileInfo::exists(testPath("out")));

    const CCliRun published = run({"publish", sample("TessarySample.pkg"), "--output", output,
                                   "--json", "--set", "SENTINEL_SCAN_CPU_LIMIT=999"});
    ASSERT_EQ(0, published.m_iStatus) << published.m_sErr.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(published.m_sOut.toUtf8()).object();
    EXPECT_EQ(output, report.value("output").toString());
    EXPECT_EQ(sha256Of(output), report.value("sha256").toString());
    EXPECT_EQ(QFileInfo(output).size(), qint64(report.value("size").toDouble()));
    EXPECT_FALSE(report.value("kind").toString().isEmpty());
    EXPECT_EQ("unsigned", report.value("signature").toObject().value("state").toString());
    EXPECT_FALSE(report.value("warnings").toArray().isEmpty()) << published.m_sOut.toStdString();

    // A dry run refuses what the publish would refuse.
    EXPECT_EQ(
        2,
        run({"publish", sample("TessarySample.pkg"), "--output", output, "--dry-run"}).m_iStatus);
}
