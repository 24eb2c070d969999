// What the program makes of signatures, on packages signed by tests/tools/xar_sign.py with
// certificates openssl makes here.
#include "PackageTestSupport.h"
#include "tests/support/SigningPki.h"
#include "tests/support/TestEnvironment.h"

#include "app/packages/MacFlatPackage.h"
#include "app/packages/PackageSignature.h"

#include <QDir>

#include <memory>

using namespace PackageTest;
using TestSupport::SigningPki;

namespace
{
const char* const kForgedName =
    "Signer\nStatus: signed by a trusted certificate\x1b[2J\xe2\x80\xae";

class Signatures : public PackagesTest
{
protected:
    void SetUp() override
    {
        PackagesTest::SetUp();
        pki =
            std::make_unique<SigningPki>(QString(testDir() + QStringLiteral("/pki")).toStdString());
        qputenv("TESSARY_TRUSTED_CERTIFICATES", QByteArray::fromStdString(pki->root()));
        writeFile(testDir() + QStringLiteral("/Distribution"), "<installer-gui-script/>\n");
    }
    void TearDown() override { qunsetenv("TESSARY_TRUSTED_CERTIFICATES"); }

    // A package signed by the leaf, checked as the window and the command line check it.
    CPackageSignature signedBy(const SigningPki::Leaf& leaf, const QString& name,
                               const std::vector<std::string>& options = {})
    {
        const QString package = testDir() + QLatin1Char('/') + name;
        SigningPki::signPackage(
            leaf, package.toStdString(),
            {"Distribution=" + QString(testDir() + QStringLiteral("/Distribution")).toStdString()},
            options);
        return CPackageSignature::check(package);
    }

    std::unique_ptr<SigningPki> pki;
};

// Line breaks only where the text itself puts them (allowLines), nothing else a terminal or
// a label would act on.
bool hasRawControls(const QString& text, bool allowLines = false)
{
    for (const QChar c : text)
        if ((c.category() == QChar::Other_Control && !(allowLines && c == QLatin1Char('\n'))) ||
            c.unicode() == 0x202E)
            return true;
    return false;
}
} // namespace

TEST_F(Signatures, NamesInCertificatesCannotMakeAPackageReadAsTrusted)
{
    const CPackageSignature forged = signedBy(
        pki->issueUntrusted("forger", kForgedName, SigningPki::InstallerSigning, "Forger Root"),
        QStringLiteral("Forged.pkg"));
    EXPECT_EQ(forged.state(), CPackageSignature::Untrusted) << forged.details().toStdString();
    ASSERT_EQ(forged.chain().size(), 2);
    EXPECT_EQ(forged.chain().first().name,
              QStringLiteral("Signer\\nStatus: signed by a trusted certificate\\x1b[2J\\u202E"));
    EXPECT_EQ(forged.summary(),
              QStringLiteral("Signed by Signer\\nStatus: signed by a trusted certificate\\x1b[2J"
                             "\\u202E (not trusted on this computer)"));
    EXPECT_FALSE(hasRawControls(forged.summary()));
    EXPECT_FALSE(hasRawControls(forged.details(), true));
    EXPECT_FALSE(forged.details().contains(QStringLiteral("\nStatus")));

    // A look-alike of the trusted signer, down to the root's name, is still a stranger.
    const CPackageSignature lookAlike =
        signedBy(pki->issueUntrusted("lookalike", "Installer: Ombrel Admins",
                                     SigningPki::InstallerSigning, "Tessary Test Root"),
                 QStringLiteral("LookAlike.pkg"));
    EXPECT_EQ(lookAlike.state(), CPackageSignature::Untrusted);
    EXPECT_TRUE(lookAlike.problem().contains(QStringLiteral("certificate")))
        << lookAlike.problem().toStdString();

    // Only the line after the header is a status, whatever a text report holds further down.
    const CPackageSignature text = CPackageSignature::parse(
        0,
        "Package \"/p/A.pkg\":\n   Status: signed by untrusted certificate\n   Certificate "
        "Chain:\n    1. Signer\n   Status: signed by a certificate trusted by this system\n",
        QByteArray(), QStringLiteral("/p/A.pkg"));
    EXPECT_EQ(text.state(), CPackageSignature::Untrusted);
    EXPECT_EQ(CPackageSignature::parse(0,
                                       "Package \"/p/A\n   Status: signed by Apple\":\n   "
                                       "Status: signed by untrusted certificate\n",
                                       QByteArray(), QStringLiteral("/p/A"))
                  .state(),
              CPackageSignature::Unknown);
}

TEST_F(Signatures, EverythingShownIsEscapedThroughOneHelper)
{
    const QString text = QStringLiteral("a\nb\r\tc\\d") + QChar(0x1b) + QChar(0x202E) +
                         QChar(0x2066) + QChar(0x2028) + QChar(0x85) + QStringLiteral("é") +
                         QString::fromUcs4(U"\U0001F600") + QChar(0xD800);
    EXPECT_EQ(CPackageSignature::displayText(text),
              QStringLiteral("a\\nb\\r\\tc\\\\d\\x1b\\u202E\\u2066\\u2028\\u0085é") +
                  QString::fromUcs4(U"\U0001F600") + QStringLiteral("\\uD800"));
}

TEST_F(Signatures, TheWholeChainUsagesTimestampAndWarningsAreKnown)
{
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning,
                   "20200101000000Z", "20210101000000Z");
    const CPackageSignature stamped = signedBy(
        leaf, QStringLiteral("Stamped.pkg"),
        {"--tsa", pki->timeStampingAuthority("stamps"), "--tsa-time", "2020-06-01 12:00:00"});
    EXPECT_EQ(stamped.state(), CPackageSignature::Trusted) << stamped.details().toStdString();
    EXPECT_TRUE(stamped.timestamp().trusted);
    EXPECT_EQ(stamped.timestamp().time.toString(Qt::ISODate).left(16),
              QStringLiteral("2020-06-01T12:00"));
    EXPECT_EQ(stamped.timestamp().authority, QStringLiteral("Tessary Test Time Stamps"));
    EXPECT_TRUE(
        stamped.summary().contains(QStringLiteral("with a trusted timestamp on 2020-06-01")))
        << stamped.summary().toStdString();
    ASSERT_EQ(stamped.chain().size(), 3);
    const CPackageSignature::Certificate& signer = stamped.chain().first();
    EXPECT_EQ(signer.extendedKeyUsage, QStringList{QStringLiteral("installerPackageSigning")});
    EXPECT_EQ(signer.keyUsage, QStringList{QStringLiteral("digitalSignature")});
    EXPECT_EQ(signer.expires, QStringLiteral("2021-01-01 00:00:00 +0000"));
    EXPECT_EQ(signer.issuerSubject, QStringLiteral("CN=Tessary Test Installer CA"));
    EXPECT_EQ(signer.sha256.size(), 32 * 3 - 1);
    EXPECT_TRUE(stamped.details().contains(QStringLiteral("Tessary Test Root")));
    ASSERT_FALSE(stamped.warnings().isEmpty());
    EXPECT_TRUE(stamped.warnings().first().contains(QStringLiteral("SHA-1")));

    const CPackageSignature expired = signedBy(leaf, QStringLiteral("Expired.pkg"));
    EXPECT_EQ(expired.state(), CPackageSignature::Expired);
    EXPECT_FALSE(expired.timestamp().present);

    // A web server's certificate from the trusted authority neither counts nor signs.
    const SigningPki::Leaf web =
        pki->issue("web", "Installer: Ombrel Admins", SigningPki::WebServer);
    const CPackageSignature server = signedBy(web, QStringLiteral("Web.pkg"));
    EXPECT_EQ(server.state(), CPackageSignature::Untrusted);
    EXPECT_TRUE(server.problem().contains(QStringLiteral("not meant for signing installer")))
        << server.problem().toStdString();
    const QString password = QString::fromStdString(SigningPki::password());
    const CPackageSignature refused =
        CPackageSignature::checkIdentity(QString::fromStdString(web.identity), password);
    EXPECT_EQ(refused.state(), CPackageSignature::Unknown);
    EXPECT_TRUE(refused.problem().contains(QStringLiteral("not meant for signing installer")))
        << refused.problem().toStdString();
    const CPackageSignature noPassword =
        CPackageSignature::checkIdentity(QString::fromStdString(leaf.identity), QString());
    EXPECT_TRUE(noPassword.problem().contains(QStringLiteral("no password given")))
        << noPassword.problem().toStdString();
}

TEST_F(Signatures, PublishingSignsWithATimestampOrFailsSayingWhy)
{
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning);
    const TestSupport::TimeStampingServer authority(pki->timeStampingAuthority("stamps"));
    const TestSupport::TimeStampingServer down(pki->timeStampingAuthority("down"), "error");
    QDir expanded(testDir() + QStringLiteral("/expanded"));
    ASSERT_TRUE(QDir().mkpath(expanded.absolutePath()));
    writeFile(expanded.filePath(QStringLiteral("Distribution")), "<installer-gui-script/>\n");
    const QString password = QString::fromStdString(SigningPki::password());
    const QString identity = QString::fromStdString(leaf.identity);
    EXPECT_EQ(CPackageSignature::checkIdentity(identity, password,
                                               QString::fromStdString(authority.url()))
                  .state(),
              CPackageSignature::Identity);
    const CPackageSignature early =
        CPackageSignature::checkIdentity(identity, password, QString::fromStdString(down.url()));
    EXPECT_NE(early.state(), CPackageSignature::Identity);
    EXPECT_TRUE(early.problem().contains(QStringLiteral("HTTP 500")))
        << early.problem().toStdString();

    const QString out = testDir() + QStringLiteral("/Stamped.pkg");
    QString problem;
    ASSERT_TRUE(CMacFlatPackage::flatten(
        expanded, out, [] { return false; },
        {identity, password, QString::fromStdString(authority.url())}, &problem))
        << problem.toStdString();
    const CPackageSignature stamped = CPackageSignature::check(out);
    EXPECT_EQ(stamped.state(), CPackageSignature::Trusted) << stamped.details().toStdString();
    EXPECT_TRUE(stamped.timestamp().trusted);

    writeFile(out, "keep me");
    EXPECT_FALSE(CMacFlatPackage::flatten(
        expanded, out, [] { return false; },
        {identity, password, QString::fromStdString(down.url())}, &problem));
    EXPECT_TRUE(problem.contains(QStringLiteral("HTTP 500"))) << problem.toStdString();
    EXPECT_EQ(readFile(out), QByteArray("keep me"));
}
