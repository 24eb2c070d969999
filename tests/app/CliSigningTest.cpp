// Signing through the real tessary-cli: time stamps, refusals and what show tells of a
// signature, with certificates openssl makes here and a local time-stamping authority.
#include "AppTestSupport.h"
#include "CliRunner.h"
#include "SigningFixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

using namespace AppTest;
using TestSupport::SigningPki;

namespace
{
class CliSigningTest : public SigningFixture
{
protected:
    void SetUp() override
    {
        SigningFixture::SetUp();
        signer = pki->issue("signer", "Tessary CLI Signer", SigningPki::InstallerSigning);
        QDir().mkpath(testPath("out"));
    }

    QStringList signWith(const SigningPki::Leaf& leaf) const
    {
        return {"--sign-identity", QString::fromStdString(leaf.identity), "--sign-password-file",
                QString::fromStdString(pki->passwordFile())};
    }

    SigningPki::Leaf signer;
};

QJsonObject signatureOf(const CCliRun& run)
{
    return QJsonDocument::fromJson(run.m_sOut.toUtf8()).object().value("signature").toObject();
}

// A publish that passes the definition's checks.
QStringList publishing(const QString& source, const QString& output)
{
    return {"publish", source, "--output", output, "--set", "SENTINEL_SERVER=console.example"};
}

bool outputEmpty()
{
    return QDir(testPath("out"))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
        .isEmpty();
}
} // namespace

TEST_F(CliSigningTest, ATimestampedPublishShowsItsTimestampAndTheWholeChain)
{
    const TestSupport::TimeStampingServer authority(pki->timeStampingAuthority("tsa"));
    const QString output = testPath("out/Stamped.pkg");
    const CCliRun publish = runCli(
        publishing(sample("TessarySample.pkg"), output) +
        QStringList{"--timestamp-url", QString::fromStdString(authority.url())} + signWith(signer));
    ASSERT_EQ(0, publish.m_iStatus) << publish.m_sErr.toStdString();

    const CCliRun json = runCli({"show", output, "--json"});
    ASSERT_EQ(0, json.m_iStatus) << json.m_sErr.toStdString();
    const QJsonObject signature = signatureOf(json);
    EXPECT_EQ("trusted", signature.value("state").toString());
    const QJsonObject stamp = signature.value("timestamp").toObject();
    EXPECT_TRUE(stamp.value("trusted").toBool()) << json.m_sOut.toStdString();
    EXPECT_FALSE(stamp.value("time").toString().isEmpty());
    const QJsonArray chain = signature.value("chain").toArray();
    ASSERT_GE(chain.size(), 2) << json.m_sOut.toStdString();
    const QJsonObject leaf = chain.at(0).toObject();
    EXPECT_EQ("Tessary CLI Signer", leaf.value("name").toString());
    EXPECT_EQ("Tessary Test Installer CA", leaf.value("issuer").toString());
    EXPECT_TRUE(leaf.value("subject").toString().contains("CN=Tessary CLI Signer"));
    EXPECT_TRUE(leaf.value("issuerSubject").toString().contains("CN=Tessary Test Installer CA"));
    EXPECT_TRUE(leaf.value("keyUsage").toArray().contains(QJsonValue("digitalSignature")));
    EXPECT_FALSE(leaf.value("extendedKeyUsage").toArray().isEmpty());
    EXPECT_FALSE(leaf.value("validFrom").toString().isEmpty());
    EXPECT_FALSE(leaf.value("expires").toString().isEmpty());
    EXPECT_EQ(fingerprintOf(signer.certificate), leaf.value("sha256").toString());
    EXPECT_EQ(fingerprintOf(signer.chain), chain.at(1).toObject().value("sha256").toString());

    const CCliRun text = runCli({"show", output});
    ASSERT_EQ(0, text.m_iStatus);
    EXPECT_TRUE(text.m_sOut.contains("\n  Timestamp: ")) << text.m_sOut.toStdString();
    EXPECT_TRUE(text.m_sOut.contains("SHA-256: " + fingerprintOf(signer.certificate)));
    EXPECT_TRUE(text.m_sOut.contains("SHA-256: " + fingerprintOf(signer.chain)));
    EXPECT_TRUE(text.m_sOut.contains("\n    Subject: CN=Tessary CLI Signer"))
        << text.m_sOut.toStdString();
    EXPECT_TRUE(text.m_sOut.contains("\n    Key usage: digitalSignature"));
    EXPECT_TRUE(text.m_sOut.contains("\n    Valid from: "));

    // Without a time stamp there is none to show.
    const CCliRun plain = runCli({"show", signedSample(signer, "Plain.pkg"), "--json"});
    EXPECT_FALSE(signatureOf(plain).contains("timestamp")) << plain.m_sOut.toStdString();
}

TEST_F(CliSigningTest, AFailingAuthorityFailsThePublishAndWritesNothing)
{
    const TestSupport::TimeStampingServer authority(pki->timeStampingAuthority("tsa"), "error");
    const CCliRun failed = runCli(
        publishing(sample("TessarySample.pkg"), testPath("out/Stamped.pkg")) +
        QStringList{"--timestamp-url", QString::fromStdString(authority.url())} + signWith(signer));
    EXPECT_EQ(1, failed.m_iStatus) << failed.m_sErr.toStdString();
    EXPECT_TRUE(failed.m_sErr.contains("500")) << failed.m_sErr.toStdString();
    EXPECT_TRUE(outputEmpty());

    // An address is only good with an identity to sign, and only over http or https.
    const CCliRun alone =
        runCli(publishing(sample("TessarySample.pkg"), testPath("out/A.pkg")) +
               QStringList{"--timestamp-url", QString::fromStdString(authority.url())});
    EXPECT_EQ(2, alone.m_iStatus);
    EXPECT_TRUE(alone.m_sErr.contains("--sign-identity")) << alone.m_sErr.toStdString();
    for (const char* address : {"ftp://127.0.0.1/tsa", "http://", "127.0.0.1:80"})
    {
        const CCliRun bad = runCli(publishing(sample("TessarySample.pkg"), testPath("out/A.pkg")) +
                                   QStringList{"--timestamp-url", address} + signWith(signer));
        EXPECT_EQ(2, bad.m_iStatus) << address;
        EXPECT_TRUE(bad.m_sErr.contains("http://")) << bad.m_sErr.toStdString();
    }
    EXPECT_TRUE(outputEmpty());
    EXPECT_TRUE(runCli({"--help"}).m_sOut.contains("--timestamp-url"));
}

TEST_F(CliSigningTest, WhatCannotBeSignedIsRefusedAndALostSignatureIsSaid)
{
    // A script installer carries no signature: asked to sign one, nothing is written.
    const CCliRun script =
        runCli(publishing(sample("TessarySample.package"), testPath("out/Linux.package")) +
               signWith(signer));
    EXPECT_EQ(2, script.m_iStatus);
    EXPECT_TRUE(script.m_sErr.contains("Only flat packages")) << script.m_sErr.toStdString();
    EXPECT_TRUE(outputEmpty());

    // No password at all is said as such.
    const CCliRun noPassword =
        runCli(publishing(sample("TessarySample.pkg"), testPath("out/N.pkg")) +
               QStringList{"--sign-identity", QString::fromStdString(signer.identity)});
    EXPECT_EQ(2, noPassword.m_iStatus);
    EXPECT_TRUE(noPassword.m_sErr.contains("no password given")) << noPassword.m_sErr.toStdString();
    EXPECT_TRUE(outputEmpty());

    // A signed source published unsigned is said, as the window says it, and published.
    const QString source = signedSample(signer, "Signed.pkg");
    const CCliRun lost = runCli(publishing(source, testPath("out/Unsigned.pkg")));
    ASSERT_EQ(0, lost.m_iStatus) << lost.m_sErr.toStdString();
    EXPECT_TRUE(lost.m_sErr.contains(
        "warning: The installer you opened is signed. The published copy will be unsigned"))
        << lost.m_sErr.toStdString();
    EXPECT_EQ("unsigned", signatureOf(runCli({"show", testPath("out/Unsigned.pkg"), "--json"}))
                              .value("state")
                              .toString());
    const CCliRun unsignedSource =
        runCli(publishing(sample("TessarySample.pkg"), testPath("out/Other.pkg")));
    ASSERT_EQ(0, unsignedSource.m_iStatus);
    EXPECT_FALSE(unsignedSource.m_sErr.contains("signed")) << unsignedSource.m_sErr.toStdString();
}

TEST_F(CliSigningTest, CertificateNamesCannotForgeLinesOfShow)
{
    const SigningPki::Leaf forger =
        pki->issue("forger", "Signer\nStatus: signed by a trusted signer\xe2\x80\xae",
                   SigningPki::InstallerSigning);
    const QString package = signedSample(forger, "Forged.pkg");

    const CCliRun text = runCli({"show", package});
    ASSERT_EQ(0, text.m_iStatus) << text.m_sErr.toStdString();
    EXPECT_FALSE(text.m_sOut.contains("\nStatus")) << text.m_sOut.toStdString();
    EXPECT_FALSE(text.m_sOut.contains(QChar(0x202E)));
    EXPECT_TRUE(
        text.m_sOut.contains("Certificate 1: Signer\\nStatus: signed by a trusted signer\\u202"))
        << text.m_sOut.toStdString();

    const QJsonObject leaf =
        signatureOf(runCli({"show", package, "--json"})).value("chain").toArray().at(0).toObject();
    EXPECT_TRUE(leaf.value("name").toString().startsWith("Signer\\nStatus"));
    for (const char* key : {"name", "subject"})
    {
        const QString value = leaf.value(key).toString();
        EXPECT_FALSE(value.contains(QChar(0x202E)) || value.contains('\n')) << key;
    }
}
