#include "PackageTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/ExecutableFile.h"
#include "app/packages/PackageSignature.h"

#include <preference/Preference.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace PackageTest;

namespace
{
// Records the worker's signals as "name:path[>path]" in the order they were
// emitted, straight from the worker's thread.
class Recorder
{
public:
    explicit Recorder(CCopyFileThread& worker)
    {
        auto two = [this](const char* name)
        {
            return [this, name](const QFileInfo& a, const QFileInfo& b)
            {
                add(QLatin1String(name) + QLatin1Char(':') + a.absoluteFilePath() +
                    QLatin1Char('>') + b.absoluteFilePath());
            };
        };
        auto one = [this](const char* name)
        {
            return [this, name](const QFileInfo& a)
            { add(QLatin1String(name) + QLatin1Char(':') + a.filePath()); };
        };
        const Qt::ConnectionType direct = Qt::DirectConnection;
        QObject::connect(&worker, &CCopyFileThread::copyIgnored, &worker, two("ignored"), direct);
        QObject::connect(&worker, &CCopyFileThread::copyStarted, &worker, two("started"), direct);
        QObject::connect(&worker, &CCopyFileThread::copyFinished, &worker, two("finished"), direct);
        QObject::connect(&worker, &CCopyFileThread::copyError, &worker, two("error"), direct);
        QObject::connect(&worker, &CCopyFileThread::copyDirectoryFinished, &worker,
                         two("dirFinished"), direct);
        QObject::connect(&worker, &CCopyFileThread::copyDirectoryError, &worker, two("dirError"),
                         direct);
        QObject::connect(&worker, &CCopyFileThread::removeFileFinished, &worker, one("removed"),
                         direct);
        QObject::connect(&worker, &CCopyFileThread::removeFileError, &worker, one("removeError"),
                         direct);
        QObject::connect(&worker, &CCopyFileThread::removeDirectoryFinished, &worker, one("rmdir"),
                         direct);
        QObject::connect(&worker, &CCopyFileThread::removeDirectoryError, &worker,
                         one("rmdirError"), direct);
        QObject::connect(&worker, &CCopyFileThread::searchStarted, &worker, one("search"), direct);
        QObject::connect(&worker, &CCopyFileThread::searchFinished, &worker, one("searched"),
                         direct);
        QObject::connect(
            &worker, &CCopyFileThread::searchResult, &worker,
            [this](CPackage* package)
            {
                add(QStringLiteral("result:") + package->file().fileName() +
                    (package->isValid() ? QStringLiteral(" valid") : QStringLiteral(" invalid")));
                delete package;
            },
            direct);
    }

    void add(const QString& entry)
    {
        QMutexLocker locker(&m_lock);
        m_lEntries.append(entry);
    }
    QStringList entries()
    {
        QMutexLocker locker(&m_lock);
        return m_lEntries;
    }
    QStringList take()
    {
        QMutexLocker locker(&m_lock);
        QStringList taken;
        taken.swap(m_lEntries);
        return taken;
    }
    bool waitFor(const QString& entry, int msecs = 60000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!entries().contains(entry))
        {
            if (timer.elapsed() > msecs)
                return false;
            QThread::msleep(5);
        }
        return true;
    }

private:
    QMutex m_lock;
    QStringList m_lEntries;
};

class Worker : public PackagesTest
{
protected:
    void SetUp() override
    {
        PackagesTest::SetUp();
        worker.start();
        src = testDir() + QStringLiteral("/src");
        dst = testDir() + QStringLiteral("/dst");
        // The worker counts as canceled until its loop runs.
        drain();
    }

    // Waits until every operation queued so far has run.
    void drain()
    {
        const QString marker = testDir() + QStringLiteral("/marker%1").arg(++m_nMarker);
        QDir().mkpath(marker);
        worker.searchPath(marker, {QStringLiteral("*.none")});
        ASSERT_TRUE(recorder.waitFor(QStringLiteral("searched:") + marker));
        QStringList entries = recorder.take();
        entries.removeAll(QStringLiteral("search:") + marker);
        entries.removeAll(QStringLiteral("searched:") + marker);
        for (const QString& entry : entries)
            recorder.add(entry);
    }

    CCopyFileThread worker;
    Recorder recorder{worker};
    QString src;
    QString dst;

private:
    int m_nMarker = 0;
};
} // namespace

TEST_F(Worker, OperationsRunInQueueOrderAndNeverOverwrite)
{
    const QString a = src + QStringLiteral("/a");
    const QString b = testDir() + QStringLiteral("/b");
    writeFile(a, "alpha");
    worker.copyFile(a, b);
    worker.removeFile(b);
    worker.copyFile(a, b);
    worker.copyFile(a, b);
    drain();
    const QString pair = a + QLatin1Char('>') + b;
    EXPECT_EQ(recorder.take(),
              QStringList({"started:" + pair, "finished:" + pair, "removed:" + b, "started:" + pair,
                           "finished:" + pair, "started:" + pair, "error:" + pair}));
    EXPECT_EQ(readFile(b), "alpha");

    // A directory copy onto an existing file fails at that file and keeps it.
    writeFile(dst + QStringLiteral("/a"), "existing");
    worker.copyDirectory(src, dst, {});
    drain();
    EXPECT_EQ(recorder.take(),
              QStringList({"started:" + a + ">" + dst + "/a", "error:" + a + ">" + dst + "/a",
                           "dirError:" + src + ">" + dst}));
    EXPECT_EQ(readFile(dst + QStringLiteral("/a")), "existing");

    // A copy into its own source fails at once.
    worker.copyDirectory(src, src + QStringLiteral("/inner"), {});
    drain();
    EXPECT_EQ(recorder.take(), QStringList({"dirError:" + src + ">" + src + "/inner"}));
    EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/inner")));

    // Missing sources and too few arguments do nothing.
    worker.copyFile(testDir() + QStringLiteral("/none"), b);
    worker.copyDirectory(testDir() + QStringLiteral("/none"), dst, {});
    worker.enqueue(CCopyFileThread::CopyFile, {a});
    worker.enqueue(CCopyFileThread::CopyFlatPackage, {a, b, "x", "y"});
    drain();
    EXPECT_EQ(recorder.take(), QStringList());
}

TEST_F(Worker, DirectoryCopyKeepsLinksModesAndHiddenFilesAndSkipsIgnoredPrefixes)
{
    writeFile(src + QStringLiteral("/.hidden"), "h");
    writeFile(src + QStringLiteral("/Contents/tool"), "#!/bin/sh\n");
    QFile::setPermissions(src + QStringLiteral("/Contents/tool"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadOther | QFileDevice::ExeOther);
    writeFile(src + QStringLiteral("/Contents/skip-me"), "s");
    writeFile(src + QStringLiteral("/Contents/skip-me-too"), "s");
    writeFile(src + QStringLiteral("/Ignored/inner"), "i");
    QDir().mkpath(src + QStringLiteral("/Empty"));
    ASSERT_TRUE(QFile::link(QStringLiteral("Contents/tool"), src + QStringLiteral("/relative")));
    ASSERT_TRUE(QFile::link(QStringLiteral("Contents"), src + QStringLiteral("/dirlink")));
    ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), src + QStringLiteral("/dangling")));

    const QStringList ignore{src + QStringLiteral("/Contents/skip-me"),
                             src + QStringLiteral("/Ignored")};
    EXPECT_EQ(worker.getFileCount(QFileInfo(src), ignore), 5);
    const QString target = dst + QStringLiteral("/deeper/Bundle.pkg");
    worker.copyDirectory(src, target, ignore);
    drain();
    const QStringList log = recorder.take();
    EXPECT_TRUE(log.contains("dirFinished:" + src + ">" + target)) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter(QStringLiteral("ignored:")).size(), 3);
    EXPECT_EQ(log.filter(QStringLiteral("finished:")).size(), 5);

    EXPECT_EQ(readFile(target + QStringLiteral("/.hidden")), "h");
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/Contents/tool")).isExecutable());
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/Empty")).isDir());
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/Contents/skip-me-too")));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/Ignored")));
    for (const char* link : {"relative", "dirlink", "dangling"})
        EXPECT_TRUE(QFileInfo(target + QLatin1Char('/') + QLatin1String(link)).isSymLink()) << link;
    EXPECT_EQ(QFile::symLinkTarget(target + QStringLiteral("/relative")),
              target + QStringLiteral("/Contents/tool"));
}

TEST_F(Worker, CancelStopsALargeCopyAndLaterOperationsRunNormally)
{
    const QByteArray megabyte(1 << 20, 'x');
    for (int d = 0; d < 20; ++d)
        for (int f = 0; f < 3; ++f)
            writeFile(src + QStringLiteral("/d%1/f%2").arg(d).arg(f), megabyte);
    std::atomic<bool> first{true};
    std::atomic<bool> queued{false};
    QObject::connect(
        &worker, &CCopyFileThread::copyFinished, &worker,
        [this, &first, &queued](const QFileInfo&, const QFileInfo&)
        {
            // The worker waits for the test to queue its second operation, so that
            // the cancellation always comes after it, however the threads are run.
            while (first && !queued)
                QThread::msleep(1);
            if (first)
                worker.cancel();
            first = false;
        },
        Qt::DirectConnection);
    worker.copyDirectory(src, dst, {});
    // Queued before the cancellation, so dropped by it.
    worker.copyFile(src + QStringLiteral("/d0/f0"), testDir() + QStringLiteral("/dropped"));
    queued = true;
    while (first)
        QThread::msleep(1);
    drain();
    const QStringList log = recorder.take();
    EXPECT_TRUE(log.filter(QStringLiteral("dirFinished:")).isEmpty());
    EXPECT_TRUE(log.filter(QStringLiteral("dirError:")).isEmpty());
    // The directory being copied is finished, no further one is entered.
    EXPECT_EQ(log.filter(QStringLiteral("finished:")).size(), 3) << log.join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(testDir() + QStringLiteral("/dropped")));

    worker.copyFile(src + QStringLiteral("/d0/f0"), testDir() + QStringLiteral("/after"));
    drain();
    EXPECT_EQ(readFile(testDir() + QStringLiteral("/after")), megabyte);

    // A cancellation while the worker waits leaves it ready for the next operation.
    worker.cancel();
    worker.copyFile(src + QStringLiteral("/d0/f1"), testDir() + QStringLiteral("/after2"));
    drain();
    EXPECT_TRUE(QFileInfo::exists(testDir() + QStringLiteral("/after2")));
}

TEST_F(Worker, RemovalsStayInsideTheTreeAndReportFailures)
{
    const QString outside = testDir() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep"), "keep");
    writeFile(src + QStringLiteral("/sub/.hidden"), "x");
    ASSERT_TRUE(QFile::link(outside, src + QStringLiteral("/sub/link")));
    ASSERT_TRUE(QFile::link(QStringLiteral("gone"), src + QStringLiteral("/dangling")));
    worker.removeDirectory(src);
    drain();
    EXPECT_EQ(recorder.take(), QStringList({"rmdir:" + src}));
    EXPECT_FALSE(QFileInfo::exists(src));
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep")), "keep");

    // Entries of /proc cannot be removed, not even by root.
    const QString procFile = QStringLiteral("/proc/self/status");
    worker.removeFile(procFile);
    worker.enqueue(CCopyFileThread::RemoveFiles, {testDir() + QStringLiteral("/none"), outside});
    drain();
    EXPECT_EQ(recorder.take(), QStringList({"removeError:" + procFile}));

    const QString procDir = QString::fromLatin1("/proc/%1/fdinfo").arg(::getpid());
    worker.removeDirectory(procDir);
    drain();
    const QStringList log = recorder.take();
    ASSERT_EQ(log.size(), 2) << log.join('\n').toStdString();
    EXPECT_TRUE(log.at(0).startsWith("removeError:" + procDir + "/"));
    EXPECT_EQ(log.at(1), "rmdirError:" + procDir);
}

TEST_F(Worker, SearchFindsEveryPackageOnceWithoutFollowingLinkLoops)
{
    QDir().mkpath(src + QStringLiteral("/nested"));
    for (const char* name : {"TessarySample.pkg", "TessarySample.package", "TessarySample.dmg"})
        ASSERT_TRUE(QFile::copy(samplePath(QLatin1String(name)),
                                src + QStringLiteral("/nested/") + QLatin1String(name)));
    ASSERT_EQ(run(QStringLiteral("cp"),
                  {QStringLiteral("-a"), samplePath(QStringLiteral("TessarySample-bundle.pkg")),
                   src + QStringLiteral("/Bundle.pkg")}),
              0);
    ASSERT_TRUE(QFile::link(src, src + QStringLiteral("/nested/loop")));
    writeFile(src + QStringLiteral("/notes.txt"), "x");
    worker.searchPath(
        src, {QStringLiteral("*.pkg"), QStringLiteral("*.package"), QStringLiteral("*.dmg")});
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("searched:") + src, 120000));
    QStringList results = recorder.take().filter(QStringLiteral("result:"));
    results.sort();
    EXPECT_EQ(results, QStringList({"result:Bundle.pkg valid", "result:TessarySample.dmg valid",
                                    "result:TessarySample.package valid",
                                    "result:TessarySample.pkg valid"}));
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Worker, RecentFilesCacheRoundTrip)
{
    Preference::Initialize();
    const std::wstring key(CCopyFileThread::CacheKey);
    auto stored = [&key](int index)
    {
        std::wstring value;
        boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication);
        store->Reload();
        return store->Read(key, std::to_wstring(index), value, std::wstring())
                   ? QString::fromStdWString(value)
                   : QStringLiteral("<none>");
    };

    QStringList many;
    for (int i = 0; i < 120; ++i)
        many << QStringLiteral("/files/%1.pkg").arg(i);
    worker.syncSaveCache(many);
    EXPECT_EQ(stored(0), QStringLiteral("/files/0.pkg"));
    EXPECT_EQ(stored(99), QStringLiteral("/files/99.pkg"));
    EXPECT_EQ(stored(100), QStringLiteral("<none>"));

    const QStringList recent{samplePath(QStringLiteral("TessarySample.package")),
                             testDir() + QStringLiteral("/notes.txt"),
                             samplePath(QStringLiteral("TessarySample-bundle.pkg"))};
    worker.saveCache(recent);
    drain();
    EXPECT_EQ(stored(0), recent.at(0));
    EXPECT_EQ(stored(2), recent.at(2));
    for (int i = 3; i < 100; ++i)
        EXPECT_EQ(stored(i), QStringLiteral("<none>")) << i;

    worker.loadCache();
    const QString keyText = QString::fromWCharArray(CCopyFileThread::CacheKey);
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("searched:") + keyText));
    EXPECT_EQ(recorder.take(),
              QStringList({"search:" + keyText, "result:TessarySample.package valid",
                           "result:TessarySample-bundle.pkg valid", "searched:" + keyText}));
    worker.stop();
    worker.wait();
    Preference::UnInitialize();
}

TEST_F(Worker, PublishedFlatPackageCarriesOneBlockOfEachKind)
{
    QObject::connect(
        &worker, &CCopyFileThread::copyFlatPackageFinished, &worker,
        [this](const QFileInfo& a, const QFileInfo& b)
        { recorder.add("published:" + a.fileName() + ">" + b.fileName()); },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &CCopyFileThread::copyFlatPackageError, &worker,
        [this](const QFileInfo& a, const QFileInfo&) { recorder.add("failed:" + a.fileName()); },
        Qt::DirectConnection);
    const QString first = testDir() + QStringLiteral("/first.pkg");
    const QString second = testDir() + QStringLiteral("/second.pkg");
    const QString customization = testDir() + QStringLiteral("/custom.xml");
    writeFile(customization, "<AdminCustomization/>");
    worker.copyFlatPackage(samplePath(QStringLiteral("TessarySample.pkg")), first,
                           QStringLiteral("export A='1'\n"), {},
                           QStringLiteral("var ts_properties = new Array();\n"
                                          "ts_properties[\"A\"] = \"1\";\n"),
                           customization);
    worker.copyFlatPackage(first, second, QStringLiteral("export B='2'\n"), {},
                           QStringLiteral("var ts_properties = new Array();\n"
                                          "ts_properties[\"B\"] = \"2\";\n"),
                           QString());
    // A destination that cannot be written fails without leaving work directories.
    writeFile(testDir() + QStringLiteral("/plain"), "x");
    worker.copyFlatPackage(first, testDir() + QStringLiteral("/plain/third.pkg"), QString(), {},
                           QString(), QString());
    drain();
    EXPECT_EQ(recorder.take().filter(QRegularExpression(QStringLiteral("^(published|failed):"))),
              QStringList({"published:TessarySample.pkg>first.pkg",
                           "published:first.pkg>second.pkg", "failed:first.pkg"}));
    EXPECT_EQ(leftOvers(), QStringList());

    const QString expanded = testDir() + QStringLiteral("/expanded");
    ASSERT_EQ(run(QStringLiteral("pkgutil"), {QStringLiteral("--expand"), second, expanded}), 0);
    const QByteArray distribution = readFile(expanded + QStringLiteral("/Distribution"));
    EXPECT_EQ(distribution.count("var ts_properties = new Array();"), 1);
    EXPECT_TRUE(distribution.contains("ts_properties[\"B\"] = \"2\";\n</script>"));
    EXPECT_FALSE(distribution.contains("ts_properties[\"A\"]"));
    EXPECT_EQ(readFile(expanded + QStringLiteral("/Scripts/properties")), "export B='2'\n");
    EXPECT_TRUE(QFileInfo(expanded + QStringLiteral("/Scripts/properties")).isExecutable());
    // The customization stored by the first publish travels on.
    EXPECT_EQ(readFile(expanded + QStringLiteral("/Scripts/AdminConfigModified.xml")),
              "<AdminCustomization/>");
    EXPECT_FALSE(QFileInfo::exists(customization));
}

TEST_F(Worker, WhatCannotBeReadIsAnErrorWithItsPath)
{
    // A FIFO in a bundle is no file to ship.
    writeFile(src + QStringLiteral("/a"), "alpha");
    const QString fifo = src + QStringLiteral("/pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    QDir().mkpath(dst);
    worker.copyDirectory(src, dst, {});
    drain();
    QStringList seen = recorder.take();
    EXPECT_TRUE(seen.contains("error:" + fifo + ">" + dst + "/pipe"))
        << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.contains("dirError:" + src + ">" + dst));
    EXPECT_FALSE(seen.filter(QStringLiteral("dirFinished:")).size());
    QFile::remove(fifo);
    QDir(dst).removeRecursively();

    // Folders nested past PATH_MAX: the deepest can be neither examined nor listed by path.
    // Made relative to descriptors, as no path can name them.
    const QString deep = testDir() + QStringLiteral("/deep");
    QDir().mkpath(deep);
    int fd = ::open(QFile::encodeName(deep).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const std::string level(200, 'd');
    for (int i = 0; i < 22; ++i)
    {
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        const int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "lost", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);
    worker.copyDirectory(deep, dst, {});
    drain();
    seen = recorder.take();
    EXPECT_TRUE(seen.filter(QRegularExpression(QStringLiteral("^error:") + deep + "/d+/")).size())
        << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.contains("dirError:" + deep + ">" + dst));
    EXPECT_FALSE(seen.filter(QStringLiteral("dirFinished:")).size());
    // The test's own clean-up cannot reach it by path either.
    ASSERT_EQ(run(QStringLiteral("rm"), {QStringLiteral("-rf"), deep}), 0);
    QDir(dst).removeRecursively();

    // A folder that even root cannot list, where the system has one.
    const QString unlistable = QStringLiteral("/proc/1/map_files");
    DIR* probe = ::opendir(QFile::encodeName(unlistable).constData());
    bool listable = probe != nullptr;
    if (probe)
    {
        errno = 0;
        while (::readdir(probe))
            errno = 0;
        listable = errno == 0;
        ::closedir(probe);
    }
    if (listable)
        GTEST_SKIP() << "every folder is listable here (" << unlistable.toStdString() << " too)";
    worker.copyDirectory(unlistable, dst, {});
    drain();
    EXPECT_EQ(recorder.take(), QStringList({"error:" + unlistable + ">" + dst,
                                            "dirError:" + unlistable + ">" + dst}));
}

TEST_F(Worker, PublishingRefusesAnOversizedDistribution)
{
    QObject::connect(
        &worker, &CCopyFileThread::copyFlatPackageError, &worker,
        [this](const QFileInfo& a, const QFileInfo&) { recorder.add("failed:" + a.fileName()); },
        Qt::DirectConnection);
    // The sample with a Distribution of 9 MiB, past the limit for any document.
    const QString expanded = testDir() + QStringLiteral("/expanded");
    ASSERT_EQ(
        run(QStringLiteral("pkgutil"), {QStringLiteral("--expand"),
                                        samplePath(QStringLiteral("TessarySample.pkg")), expanded}),
        0);
    writeFile(expanded + QStringLiteral("/Distribution"), "<installer-gui-script><script>" +
                                                              QByteArray(9 * 1024 * 1024, ' ') +
                                                              "</script></installer-gui-script>");
    const QString big = testDir() + QStringLiteral("/big.pkg");
    ASSERT_EQ(run(QStringLiteral("pkgutil"), {QStringLiteral("--flatten"), expanded, big}), 0);
    const QString out = testDir() + QStringLiteral("/out.pkg");
    worker.copyFlatPackage(big, out, QStringLiteral("export A='1'\n"), {},
                           QStringLiteral("var ts_properties = new Array();\n"), QString());
    drain();
    EXPECT_TRUE(recorder.take().contains(QStringLiteral("failed:big.pkg")));
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(leftOvers(), QStringList());
}

// The installer's shell files: a planted link is replaced, not written through, a
// shorter text leaves nothing of the longer one, and a path that cannot be
// written is an error with its reason.
TEST(ExecutableFile, ReplacesLinksTruncatesAndReportsWhatFailed)
{
    const QString victim = testDir() + QStringLiteral("/victim");
    const QString path = testDir() + QStringLiteral("/properties");
    writeFile(victim, "keep");
    ASSERT_TRUE(QFile::link(victim, path));

    QString error;
    ASSERT_TRUE(CExecutableFile::write(path, "export A='1'\nexport B='2'\n", &error))
        << error.toStdString();
    EXPECT_EQ(readFile(victim), "keep");
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    ASSERT_TRUE(CExecutableFile::write(path, "export C='3'\n", &error)) << error.toStdString();
    EXPECT_EQ(readFile(path), "export C='3'\n");

    EXPECT_FALSE(CExecutableFile::write(testDir() + QStringLiteral("/missing/properties"),
                                        "export A='1'\n", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(Worker, PublishedFlatPackageIsSignedWithTheChosenIdentity)
{
    // A certificate authority and an installer-signing certificate it issued.
    const QString pki = testDir() + QStringLiteral("/pki");
    QDir().mkpath(pki);
    const auto openssl = [&](const QStringList& arguments)
    {
        QByteArray output;
        ASSERT_EQ(run(QStringLiteral("openssl"), arguments, pki, &output), 0) << output.constData();
    };
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
             "-subj", "/CN=Tessary Test Root", "-days", "30"});
    openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
             "-subj", "/CN=Tessary Test Signer"});
    writeFile(pki + QStringLiteral("/leaf.cnf"),
              "[leaf]\nkeyUsage = critical,digitalSignature\nextendedKeyUsage = codeSigning\n");
    openssl({"x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "signer.pem", "-days", "30", "-extfile", "leaf.cnf",
             "-extensions", "leaf"});
    openssl({"pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
             "ca.pem", "-out", "signer.p12", "-passout", "pass:open sesame"});
    const QString identity = pki + QStringLiteral("/signer.p12");

    // The identity is checked before anything is published.
    const CPackageSignature good = CPackageSignature::checkIdentity(identity, "open sesame");
    EXPECT_EQ(good.state(), CPackageSignature::Identity) << good.problem().toStdString();
    ASSERT_FALSE(good.chain().isEmpty());
    EXPECT_EQ(good.chain().first().name, QStringLiteral("Tessary Test Signer"));
    EXPECT_EQ(good.chain().first().issuer, QStringLiteral("Tessary Test Root"));
    const CPackageSignature wrong = CPackageSignature::checkIdentity(identity, "sesame");
    EXPECT_NE(wrong.state(), CPackageSignature::Identity);
    EXPECT_TRUE(wrong.problem().contains(QStringLiteral("wrong password")))
        << wrong.problem().toStdString();

    QStringList problems;
    QObject::connect(
        &worker, &CCopyFileThread::copyFlatPackageProblem, &worker,
        [&](const QString& reason) { problems << reason; }, Qt::DirectConnection);
    QObject::connect(
        &worker, &CCopyFileThread::copyFlatPackageError, &worker,
        [this](const QFileInfo& a, const QFileInfo&) { recorder.add("failed:" + a.fileName()); },
        Qt::DirectConnection);
    const QString sample = samplePath(QStringLiteral("TessarySample.pkg"));
    EXPECT_EQ(CPackageSignature::check(sample).state(), CPackageSignature::Unsigned);

    const QString out = testDir() + QStringLiteral("/signed.pkg");
    worker.setSigning({identity, QStringLiteral("open sesame")});
    worker.copyFlatPackage(sample, out, QStringLiteral("export A='1'\n"), {}, QString(), QString());
    drain();
    const CPackageSignature signature = CPackageSignature::check(out);
    EXPECT_TRUE(signature.verifies()) << signature.details().toStdString();
    ASSERT_FALSE(signature.chain().isEmpty());
    EXPECT_EQ(signature.chain().first().name, QStringLiteral("Tessary Test Signer"));
    EXPECT_TRUE(signature.summary().contains(QStringLiteral("Tessary Test Signer")));
    // A verifier of its own, which uses neither the tools nor their library, agrees.
    QByteArray verdict;
    EXPECT_EQ(run(QStringLiteral("python3"),
                  {QString::fromStdString(TestSupport::sourceDirectory()) +
                       QStringLiteral("/tests/tools/xar_verify.py"),
                   out, pki + QStringLiteral("/ca.pem")},
                  QString(), &verdict),
              0)
        << verdict.constData();

    // A wrong password publishes nothing and keeps the earlier output.
    const QByteArray before = readFile(out);
    worker.setSigning({identity, QStringLiteral("sesame")});
    worker.copyFlatPackage(sample, out, QStringLiteral("export A='2'\n"), {}, QString(), QString());
    drain();
    EXPECT_TRUE(recorder.take().contains(QStringLiteral("failed:TessarySample.pkg")));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems.first().contains(QStringLiteral("wrong password")))
        << problems.first().toStdString();
    EXPECT_EQ(readFile(out), before);
    EXPECT_EQ(leftOvers(), QStringList());

    // One changed byte of the payload: the signature no longer matches.
    QByteArray tampered = before;
    tampered[tampered.size() - 10] = char(tampered[tampered.size() - 10] ^ 0x01);
    const QString damaged = testDir() + QStringLiteral("/tampered.pkg");
    writeFile(damaged, tampered);
    const CPackageSignature broken = CPackageSignature::check(damaged);
    EXPECT_FALSE(broken.verifies()) << broken.details().toStdString();
    EXPECT_NE(broken.state(), CPackageSignature::Unsigned);
}
