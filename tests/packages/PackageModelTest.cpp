#include "PackageTestSupport.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/CustomizedFlatPackage_Exception.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/ExePackage.h"
#include "app/packages/LinuxPackage.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/MacPackage.h"
#include "app/packages/MsiPackage.h"
#include "app/packages/XmlPackage.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <QElapsedTimer>

#include <atomic>
#include <memory>

using namespace PackageTest;

namespace
{
class PackageModel : public PackagesTest
{
protected:
    static std::unique_ptr<CPackage> load(const QString& path)
    {
        return std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(QFileInfo(path)));
    }

    static void expectSample(CPackage* package, const char* os)
    {
        ASSERT_NE(package, nullptr);
        EXPECT_TRUE(package->isValid());
        EXPECT_EQ(package->product(), QStringLiteral("Ombrel Sentinel"));
        EXPECT_EQ(package->version(), orbilib::utils::CVersion(L"4.2.1"));
        EXPECT_EQ(package->os(), QLatin1String(os));
        EXPECT_TRUE(package->xml().contains("<AdminConfig"));
    }

    // Publishes the sample flat package with a customization inside, as the worker does.
    QString customizedFlatPackage(const QByteArray& customization)
    {
        const QString xmlFile = testDir() + QStringLiteral("/custom.xml");
        writeFile(xmlFile, customization);
        const QString out = testDir() + QStringLiteral("/Customized.pkg");
        CCopyFileThread worker;
        std::atomic<int> outcome{0};
        QObject::connect(
            &worker, &CCopyFileThread::copyFlatPackageFinished, &worker,
            [&outcome]() { outcome = 1; }, Qt::DirectConnection);
        QObject::connect(
            &worker, &CCopyFileThread::copyFlatPackageError, &worker, [&outcome]() { outcome = 2; },
            Qt::DirectConnection);
        worker.start();
        worker.copyFlatPackage(samplePath(QStringLiteral("TessarySample.pkg")), out,
                               QStringLiteral("export A='1'\n"), QStringList(),
                               QStringLiteral("var x;\n"), xmlFile);
        QElapsedTimer timer;
        timer.start();
        while (outcome == 0 && timer.elapsed() < 60000)
            QThread::msleep(10);
        EXPECT_EQ(outcome, 1);
        // The customization file was moved into the package.
        EXPECT_FALSE(QFileInfo::exists(xmlFile));
        return out;
    }
};

const QByteArray kCustomization =
    "<?xml version=\"1.0\"?>\n<AdminCustomization productVersion=\"4.2.1\" "
    "productName=\"Ombrel Sentinel\" source=\"/nowhere/gone.pkg\"><p name=\"a\"/>"
    "</AdminCustomization>\n";
} // namespace

TEST_F(PackageModel, EverySampleKindOpensValidWithItsClass)
{
    std::unique_ptr<CPackage> flat = load(samplePath(QStringLiteral("TessarySample.pkg")));
    expectSample(flat.get(), "mac");
    EXPECT_NE(dynamic_cast<CMacFlatPackage*>(flat.get()), nullptr);
    EXPECT_FALSE(flat->isContainer());
    EXPECT_EQ(flat->subPackage(), nullptr);

    std::unique_ptr<CPackage> bundle = load(samplePath(QStringLiteral("TessarySample-bundle.pkg")));
    expectSample(bundle.get(), "mac");
    EXPECT_NE(dynamic_cast<CMacPackage*>(bundle.get()), nullptr);

    std::unique_ptr<CPackage> meta = load(samplePath(QStringLiteral("TessarySample.mpkg")));
    expectSample(meta.get(), "mac");
    EXPECT_NE(dynamic_cast<CMacPackage*>(meta.get()), nullptr);

    std::unique_ptr<CPackage> script = load(samplePath(QStringLiteral("TessarySample.package")));
    expectSample(script.get(), "linux");
    EXPECT_NE(dynamic_cast<CLinuxPackage*>(script.get()), nullptr);
    EXPECT_EQ(script->xml(), flat->xml());

    std::unique_ptr<CPackage> image = load(samplePath(QStringLiteral("TessarySample.dmg")));
    expectSample(image.get(), "mac");
    auto* dmg = dynamic_cast<CDmgPackage*>(image.get());
    ASSERT_NE(dmg, nullptr);
    EXPECT_TRUE(dmg->isContainer());
    EXPECT_FALSE(dmg->isMounted());
    ASSERT_NE(dmg->subPackage(), nullptr);
    EXPECT_NE(dynamic_cast<CMacFlatPackage*>(dmg->subPackage()), nullptr);
    EXPECT_TRUE(
        dmg->subPackage()->file().absoluteFilePath().startsWith(dmg->mountPoint().absolutePath()));

    // Publishing mounts again; the sub-package's file is there exactly while mounted.
    EXPECT_TRUE(dmg->mount());
    EXPECT_TRUE(dmg->mount());
    EXPECT_TRUE(dmg->subPackage()->file().exists());
    EXPECT_TRUE(dmg->unmount());
    EXPECT_FALSE(QFileInfo(dmg->subPackage()->file().absoluteFilePath()).exists());
    image.reset();
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(PackageModel, SuffixesDecideTheClassAndUnknownOnesGiveNothing)
{
    for (const char* name : {"a.txt", "noextension", "a.pkg.bak", "a."})
    {
        writeFile(testDir() + QLatin1Char('/') + QLatin1String(name), "x");
        EXPECT_EQ(load(testDir() + QLatin1Char('/') + QLatin1String(name)), nullptr) << name;
    }
    for (const char* name : {"setup.msi", "patch.MSP", "setup.exe"})
    {
        writeFile(testDir() + QLatin1Char('/') + QLatin1String(name), "MZ");
        std::unique_ptr<CPackage> windows =
            load(testDir() + QLatin1Char('/') + QLatin1String(name));
        ASSERT_NE(windows, nullptr) << name;
        EXPECT_FALSE(windows->isValid());
        EXPECT_EQ(windows->os(), QStringLiteral("windows"));
        EXPECT_TRUE(windows->xml().isEmpty());
    }
    // The wait cursor shown while reading on the GUI thread is restored.
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // Missing files still give an (invalid) object of their kind.
    for (const char* name : {"gone.pkg", "gone.mpkg", "gone.dmg", "gone.package", "gone.xml"})
    {
        std::unique_ptr<CPackage> missing =
            load(testDir() + QLatin1Char('/') + QLatin1String(name));
        ASSERT_NE(missing, nullptr) << name;
        EXPECT_FALSE(missing->isValid()) << name;
    }
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(PackageModel, CapitalSuffixIsReadAsABundleAndBundleNeedsItsDefinition)
{
    const QString upper = testDir() + QStringLiteral("/Sample.PKG");
    ASSERT_TRUE(QFile::copy(samplePath(QStringLiteral("TessarySample.pkg")), upper));
    std::unique_ptr<CPackage> package = load(upper);
    ASSERT_NE(dynamic_cast<CMacPackage*>(package.get()), nullptr);
    EXPECT_FALSE(package->isValid());
    EXPECT_TRUE(package->product().isEmpty());
    EXPECT_TRUE(package->version().isEmpty());

    // A bundle whose Info is readable but that has no page definition stays empty.
    const QString bundle = testDir() + QStringLiteral("/NoConfig.pkg");
    ASSERT_EQ(
        run(QStringLiteral("cp"),
            {QStringLiteral("-a"), samplePath(QStringLiteral("TessarySample-bundle.pkg")), bundle}),
        0);
    ASSERT_TRUE(QFile::remove(bundle + QStringLiteral("/Contents/Resources/AdminConfig.xml")));
    std::unique_ptr<CPackage> noConfig = load(bundle);
    ASSERT_NE(noConfig, nullptr);
    EXPECT_FALSE(noConfig->isValid());
    EXPECT_TRUE(noConfig->product().isEmpty());
    EXPECT_TRUE(noConfig->version().isEmpty());
}

TEST_F(PackageModel, CustomizationFilesWithAndWithoutTheirSource)
{
    const QString orphan = testDir() + QStringLiteral("/orphan.xml");
    writeFile(orphan, kCustomization);
    std::unique_ptr<CPackage> package = load(orphan);
    ASSERT_NE(dynamic_cast<CXmlPackage*>(package.get()), nullptr);
    EXPECT_TRUE(package->isValid());
    EXPECT_TRUE(package->isContainer());
    EXPECT_TRUE(package->os().isEmpty());
    EXPECT_EQ(package->subPackage(), nullptr);
    EXPECT_EQ(package->product(), QStringLiteral("Ombrel Sentinel"));
    EXPECT_EQ(package->xml(), kCustomization);
    EXPECT_EQ(package->file().absoluteFilePath(), QFileInfo(orphan).absoluteFilePath());

    // With its source present, the answers come from the installer.
    const QString withSource = testDir() + QStringLiteral("/with-source.xml");
    QByteArray text = kCustomization;
    text.replace("/nowhere/gone.pkg", samplePath(QStringLiteral("TessarySample.package")).toUtf8());
    text.replace("productVersion=\"4.2.1\"", "productVersion=\"1.0\"");
    writeFile(withSource, text);
    std::unique_ptr<CPackage> sourced = load(withSource);
    ASSERT_NE(sourced, nullptr);
    ASSERT_NE(dynamic_cast<CLinuxPackage*>(sourced->subPackage()), nullptr);
    EXPECT_EQ(sourced->os(), QStringLiteral("linux"));
    EXPECT_EQ(sourced->version(), orbilib::utils::CVersion(L"4.2.1"));
    EXPECT_EQ(sourced->file().absoluteFilePath(), QFileInfo(withSource).absoluteFilePath());

    const QString wrongRoot = testDir() + QStringLiteral("/wrong.xml");
    writeFile(wrongRoot, "<AdminConfig productVersion=\"1.0\" productName=\"x\"/>");
    EXPECT_FALSE(load(wrongRoot)->isValid());
    const QString broken = testDir() + QStringLiteral("/broken.xml");
    writeFile(broken, "<AdminCustomization productVersion=\"1.0\" productName=\"x\"><a>");
    EXPECT_FALSE(load(broken)->isValid());
    const QString nameless = testDir() + QStringLiteral("/nameless.xml");
    writeFile(nameless, "<AdminCustomization productVersion=\"1.0\"/>");
    EXPECT_FALSE(load(nameless)->isValid());
}

TEST_F(PackageModel, FlatPackageCustomizedBeforeOpensAsCustomization)
{
    const QString published = customizedFlatPackage(kCustomization);
    ASSERT_TRUE(QFileInfo::exists(published));
    EXPECT_THROW(CMacFlatPackage(QFileInfo(published), false), CustomizedFlatPackage_Exception);
    try
    {
        CMacFlatPackage package(QFileInfo(published), false);
    }
    catch (const CustomizedFlatPackage_Exception& e)
    {
        EXPECT_EQ(e.customization(), kCustomization);
        EXPECT_EQ(e.packagePath(), QFileInfo(published).absoluteFilePath());
    }
    CMacFlatPackage ignoring(QFileInfo(published), true);
    EXPECT_TRUE(ignoring.isValid());

    std::unique_ptr<CPackage> package = load(published);
    auto* customization = dynamic_cast<CXmlPackage*>(package.get());
    ASSERT_NE(customization, nullptr);
    EXPECT_TRUE(customization->isValid());
    EXPECT_EQ(customization->xml(), kCustomization);
    EXPECT_EQ(customization->file().absoluteFilePath(), QFileInfo(published).absoluteFilePath());
    EXPECT_EQ(customization->os(), QStringLiteral("mac"));
    ASSERT_NE(dynamic_cast<CMacFlatPackage*>(customization->subPackage()), nullptr);
    EXPECT_TRUE(customization->subPackage()->xml().contains("<AdminConfig"));
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(PackageModel, DiskImageWithACustomizedFlatPackageOpensWithItsDefinition)
{
    const QString published = customizedFlatPackage(kCustomization);
    const QString volume = testDir() + QStringLiteral("/volume");
    QDir().mkpath(volume);
    ASSERT_TRUE(QFile::rename(published, volume + QStringLiteral("/Customized.pkg")));
    const QString image = testDir() + QStringLiteral("/Customized.dmg");
    ASSERT_EQ(
        run(QStringLiteral("xorriso"),
            {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"),
             QStringLiteral("-J"), QStringLiteral("-R"), QStringLiteral("-o"), image, volume}),
        0);
    std::unique_ptr<CPackage> package = load(image);
    auto* dmg = dynamic_cast<CDmgPackage*>(package.get());
    ASSERT_NE(dmg, nullptr);
    EXPECT_TRUE(dmg->isValid());
    EXPECT_FALSE(dmg->isMounted());
    EXPECT_TRUE(dmg->xml().contains("<AdminConfig"));
    EXPECT_FALSE(dmg->xml().contains("AdminCustomization"));
    package.reset();
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(PackageModel, FlatPackageWithoutDefinitionIsNotCustomizable)
{
    QList<CpioMember> members = validScriptsMembers();
    members.removeLast();
    const QString path =
        makeFlatPackage(testDir() + QStringLiteral("/NoDefinition.pkg"), gzip(cpioOdc(members)));
    std::unique_ptr<CPackage> package = load(path);
    ASSERT_NE(dynamic_cast<CMacFlatPackage*>(package.get()), nullptr);
    EXPECT_FALSE(package->isValid());
    EXPECT_TRUE(package->isValidButNotCustomizable());
    EXPECT_EQ(package->product(), QStringLiteral("Hostile Product"));

    std::unique_ptr<CPackage> complete = load(makeFlatPackage(
        testDir() + QStringLiteral("/Complete.pkg"), gzip(cpioOdc(validScriptsMembers()))));
    EXPECT_TRUE(complete->isValid());
    EXPECT_EQ(complete->version(), orbilib::utils::CVersion(L"1.2.3"));
    EXPECT_EQ(leftOvers(), QStringList());
}
