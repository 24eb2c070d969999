#include "SigningFixture.h"

#include <QDir>

namespace AppTest
{
void SigningFixture::SetUp()
{
    AppFixture::SetUp();
    pki = std::make_unique<TestSupport::SigningPki>(testPath("pki").toStdString());
    qputenv("TESSARY_TRUSTED_CERTIFICATES", QByteArray::fromStdString(pki->root()));
}

void SigningFixture::TearDown()
{
    qunsetenv("TESSARY_TRUSTED_CERTIFICATES");
    AppFixture::TearDown();
}

QString SigningFixture::signedSample(const TestSupport::SigningPki::Leaf& leaf,
                                     const QString& name) const
{
    const QString expanded = testPath("expanded-" + name);
    runShell("pkgutil --expand " + shellQuoted(sample("TessarySample.pkg")) + " " +
             shellQuoted(expanded) + " && pkgutil --flatten " + shellQuoted(expanded) + " " +
             shellQuoted(testPath(name)) + " --sign-identity " +
             shellQuoted(QString::fromStdString(leaf.identity)) + " --sign-password-file " +
             shellQuoted(QString::fromStdString(pki->passwordFile())));
    return testPath(name);
}

QString SigningFixture::fingerprintOf(const std::string& pem)
{
    const QString line =
        QString::fromStdString(runShell("openssl x509 -noout -fingerprint -sha256 -in " +
                                        shellQuoted(QString::fromStdString(pem))));
    return line.section(QLatin1Char('='), 1).trimmed().replace(QLatin1Char(':'), QLatin1Char(' '));
}
} // namespace AppTest
