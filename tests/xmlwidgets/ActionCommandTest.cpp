#include "ActionTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace ActionTest;

namespace
{
// Debug log lines, gathered from every thread.
QMutex g_logMutex;
QStringList g_log;

void collectLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_logMutex);
    g_log.append(message);
}

bool logContains(const QString& text)
{
    QMutexLocker lock(&g_logMutex);
    for (const QString& line : qAsConst(g_log))
        if (line.contains(text))
            return true;
    return false;
}

// A file below the test directory.
QString testPath(const QString& name)
{
    return QDir(QString::fromStdString(TestSupport::testDirectory())).filePath(name);
}

// Writes an executable shell script and returns its path.
QString writeScript(const QString& name, const QByteArray& body)
{
    QFile script(testPath(name));
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n" + body);
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return script.fileName();
}

// Waits, processing events, until the file exists; no speed is measured here.
bool waitForFile(const QString& path)
{
    for (int i = 0; i < 1000 && !QFile::exists(path); ++i)
        QTest::qWait(20);
    return QFile::exists(path);
}

int threadCount()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// A script that appends a line per run to "runs", waits until "go" exists, then
// creates "done".
QByteArray gatedScript()
{
    return "echo run >> '" + testPath("runs").toUtf8() + "'\n" + "while [ ! -e '" +
           testPath("go").toUtf8() + "' ]; do sleep 0.02; done\n" + "touch '" +
           testPath("done").toUtf8() + "'\n";
}

class ActionCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CXmlContainer::m_pStaticWidgetFactory = &m_factory;
        journal().clear();
        // The gated script's files from an earlier test in the same process would
        // open its gate at once.
        for (const char* name : {"runs", "go", "done"})
            QFile::remove(testPath(name));
        qInstallMessageHandler(collectLog);
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }

    // Loads one command action ("cmd" plus extra attributes) with success and
    // failure branches that log into the journal, and returns it.
    CActionItem* loadCommand(const QString& cmd, const QString& attributes = QString())
    {
        m_root = loadBranchingAction("slot=\"cmd\" cmd=\"" + cmd + "\" " + attributes, "rec");
        return find<CActionItem>(m_root.get(), "act");
    }

    // Fires the action and returns the outcome it reports.
    bool runToEnd(CActionItem* action)
    {
        QSignalSpy done(action, &CActionItem::actionDone);
        emit find<CRecorder>(m_root.get(), "btn")->fire();
        EXPECT_TRUE(done.count() == 1 || done.wait(20000));
        EXPECT_EQ(1, done.count());
        return !done.isEmpty() && done.first().first().toBool();
    }

    CTestFactory m_factory;
    std::unique_ptr<CTestRoot> m_root;
};

TEST_F(ActionCommandTest, WaitedProgramsReportTheirExitStatus)
{
    EXPECT_TRUE(runToEnd(loadCommand("/bin/true", "wait=\"true\"")));
    EXPECT_EQ(QStringList({"rec:success"}), journal());

    journal().clear();
    EXPECT_FALSE(runToEnd(loadCommand("/bin/false", "wait=\"t\"")));
    EXPECT_EQ(QStringList({"rec:failure"}), journal());
    EXPECT_TRUE(logContains("Failed to exec process: /bin/false"));
}

TEST_F(ActionCommandTest, MissingProgramFailsWithOrWithoutWaiting)
{
    EXPECT_FALSE(runToEnd(loadCommand(testPath("absent"))));
    EXPECT_FALSE(runToEnd(loadCommand(testPath("absent"), "wait=\"true\"")));
    EXPECT_EQ(QStringList({"rec:failure", "rec:failure"}), journal());
    EXPECT_TRUE(logContains("Failed to find process: " + testPath("absent")));
}

TEST_F(ActionCommandTest, ScriptGetsEveryArgumentInDocumentOrder)
{
    const QString script =
        writeScript("args.sh", "printf '%s\\n' \"$@\" > '" + testPath("args.txt").toUtf8() + "'\n");
    EXPECT_TRUE(runToEnd(loadCommand(
        script, R"(arg="one" ARG="two words" wait="TRUE" Arg="%OS%" aRg="; rm -rf /")")));
    QFile args(testPath("args.txt"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ("one\ntwo words\nMac\n; rm -rf /\n", args.readAll());
}

TEST_F(ActionCommandTest, WithoutWaitSuccessArrivesBeforeTheProgramEnds)
{
    const QString script = writeScript("gated.sh", gatedScript());
    EXPECT_TRUE(runToEnd(loadCommand(script)));
    EXPECT_FALSE(QFile::exists(testPath("done")));
    QFile(testPath("go")).open(QIODevice::WriteOnly);
    EXPECT_TRUE(waitForFile(testPath("done")));
}

TEST_F(ActionCommandTest, SecondTriggerWhileRunningStartsNoSecondRun)
{
    CActionItem* action = loadCommand(writeScript("gated.sh", gatedScript()), "wait=\"true\"");
    QSignalSpy done(action, &CActionItem::actionDone);
    emit find<CRecorder>(m_root.get(), "btn")->fire();
    ASSERT_TRUE(waitForFile(testPath("runs")));
    emit find<CRecorder>(m_root.get(), "btn")->fire();
    // The GUI thread is free while the program runs.
    EXPECT_EQ(0, done.count());
    QFile(testPath("go")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(done.wait(20000));
    QFile runs(testPath("runs"));
    ASSERT_TRUE(runs.open(QIODevice::ReadOnly));
    EXPECT_EQ("run\n", runs.readAll());
}

TEST_F(ActionCommandTest, DiscardingTheTreeDuringARunNeitherBlocksNorCrashes)
{
    const int threadsBefore = threadCount();
    loadCommand(writeScript("gated.sh", gatedScript()), "wait=\"true\"");
    emit find<CRecorder>(m_root.get(), "btn")->fire();
    ASSERT_TRUE(waitForFile(testPath("runs")));
    EXPECT_GT(threadCount(), threadsBefore);

    m_root.reset(); // returns at once although the program still runs
    EXPECT_FALSE(QFile::exists(testPath("done")));

    QFile(testPath("go")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(waitForFile(testPath("done")));
    // The command's thread ends and is released; its report finds no action.
    for (int i = 0; i < 500 && threadCount() > threadsBefore; ++i)
        QTest::qWait(20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(threadsBefore, threadCount());
    EXPECT_TRUE(journal().isEmpty()) << journal().join(",").toStdString();
}

TEST_F(ActionCommandTest, ElevationGoesThroughPkexecAndFailsWithoutIt)
{
    const QString bin = testPath("bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    qputenv("PATH", bin.toUtf8());
    EXPECT_FALSE(runToEnd(loadCommand("/bin/true", R"(elevate="true" wait="true")")));
    EXPECT_TRUE(runToEnd(loadCommand("/bin/true", R"(wait="true")")));

    // A stand-in that grants the rights and runs the program as pkexec would.
    QFile::rename(writeScript("pkexec", "echo \"$@\" > '" + testPath("elevated").toUtf8() +
                                            "'\nexec \"$@\"\n"),
                  bin + "/pkexec");
    // The program's own status does not count once the rights were granted.
    EXPECT_TRUE(runToEnd(loadCommand("/bin/false", R"(elevate="T" wait="true" arg="x")")));
    QFile elevated(testPath("elevated"));
    ASSERT_TRUE(elevated.open(QIODevice::ReadOnly));
    EXPECT_EQ("/bin/false x\n", elevated.readAll());

    // pkexec's status for refused rights selects the failure branch.
    QFile::remove(bin + "/pkexec");
    QFile::rename(writeScript("pkexec", "exit 127\n"), bin + "/pkexec");
    journal().clear();
    EXPECT_FALSE(runToEnd(loadCommand("/bin/true", R"(elevate="true" wait="true")")));
    EXPECT_EQ(QStringList({"rec:failure"}), journal());
}
} // namespace
