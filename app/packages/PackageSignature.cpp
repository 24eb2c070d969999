#include "PackageSignature.h"

#include "ToolRunner.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace
{
// Reading a table of contents and hashing the members of a large package.
const int kCheckLimitMs = 120000;
// No report is longer; the rest of a runaway output is ignored.
const int kMaxReportBytes = 64 * 1024;
const int kMaxChain = 16;

QString valueAfter(const QString& line, const QString& label)
{
    return line.mid(label.size()).trimmed();
}
} // namespace

CPackageSignature CPackageSignature::check(const QString& packagePath)
{
    qDebug().nospace().noquote() << "CPackageSignature::check(" << packagePath << ") begin";
    const CToolRunner::Result result = CToolRunner::run(
        QStringLiteral("pkgutil"),
        {QStringLiteral("--check-signature"), QFileInfo(packagePath).absoluteFilePath()}, QString(),
        kCheckLimitMs);
    CPackageSignature signature;
    if (result.finished && !result.crashed)
        signature = parse(result.exitCode, result.output, result.errors);
    else
        signature.m_sProblem = tr("The signature could not be checked.");
    qDebug().nospace().noquote() << "CPackageSignature::check(" << packagePath << ") end "
                                 << signature.m_eState;
    return signature;
}

CPackageSignature CPackageSignature::checkIdentity(const QString& identityFile,
                                                   const QString& password)
{
    qDebug().nospace().noquote() << "CPackageSignature::checkIdentity(" << identityFile
                                 << ") begin";
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TESSARY_SIGN_PASSWORD"), password);
    const CToolRunner::Result result = CToolRunner::runCancelable(
        QStringLiteral("pkgutil"),
        {QStringLiteral("--check-identity"), QFileInfo(identityFile).absoluteFilePath(),
         QStringLiteral("--sign-password-env"), QStringLiteral("TESSARY_SIGN_PASSWORD")},
        CToolRunner::CancelTest(), QString(), environment);
    CPackageSignature identity;
    if (result.finished && !result.crashed)
        identity = parse(result.exitCode, result.output, result.errors);
    if (identity.m_eState != Identity && identity.m_sProblem.isEmpty())
        identity.m_sProblem = tr("The signing identity could not be checked.");
    qDebug().nospace().noquote() << "CPackageSignature::checkIdentity(" << identityFile << ") end "
                                 << identity.m_eState;
    return identity;
}

CPackageSignature CPackageSignature::parse(int exitCode, const QByteArray& output,
                                           const QByteArray& errors)
{
    CPackageSignature signature;
    const QStringList lines =
        QString::fromUtf8(output.left(kMaxReportBytes)).split(QLatin1Char('\n'));
    bool identity = false;
    for (const QString& raw : lines)
    {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Identity \"")))
            identity = true;
        else if (line.startsWith(QLatin1String("Status:")))
        {
            const QString status = valueAfter(line, QStringLiteral("Status:"));
            if (status == QLatin1String("no signature"))
                signature.m_eState = Unsigned;
            else if (status.startsWith(QLatin1String("invalid signature")))
            {
                signature.m_eState = Invalid;
                signature.m_sProblem = status.section(QLatin1Char(':'), 1).trimmed();
            }
            else if (status.startsWith(QLatin1String("damaged archive")))
            {
                signature.m_eState = Damaged;
                signature.m_sProblem = status.section(QLatin1Char(':'), 1).trimmed();
            }
            else if (status.contains(QLatin1String("expired")))
                signature.m_eState = Expired;
            else if (status.contains(QLatin1String("untrusted")))
                signature.m_eState = Untrusted;
            else if (status.startsWith(QLatin1String("signed")))
                signature.m_eState = Trusted;
        }
        else if (line.startsWith(QLatin1String("Reason:")))
            signature.m_sProblem = valueAfter(line, QStringLiteral("Reason:"));
        else if (line.size() > 3 && line.at(0).isDigit() && line.contains(QLatin1String(". ")) &&
                 signature.m_lChain.size() < kMaxChain)
        {
            bool number = false;
            line.section(QLatin1Char('.'), 0, 0).toInt(&number);
            if (number)
                signature.m_lChain.append(
                    {line.section(QLatin1String(". "), 1).trimmed(), {}, {}, {}});
        }
        else if (!signature.m_lChain.isEmpty())
        {
            Certificate& last = signature.m_lChain.last();
            if (line.startsWith(QLatin1String("Issued by:")))
                last.issuer = valueAfter(line, QStringLiteral("Issued by:"));
            else if (line.startsWith(QLatin1String("Valid from:")))
                last.validFrom = valueAfter(line, QStringLiteral("Valid from:"));
            else if (line.startsWith(QLatin1String("Expires:")))
                last.expires = valueAfter(line, QStringLiteral("Expires:"));
        }
    }
    // The platform's tool names no issuer: it is the next certificate up the chain.
    for (int i = 0; i + 1 < signature.m_lChain.size(); ++i)
        if (signature.m_lChain[i].issuer.isEmpty())
            signature.m_lChain[i].issuer = signature.m_lChain[i + 1].name;

    if (identity)
    {
        if (exitCode == 0 && !signature.m_lChain.isEmpty())
            signature.m_eState = Identity;
        else
            signature.m_eState = Unknown;
    }
    else if (exitCode != 0 && signature.verifies())
        signature.m_eState = Unknown;
    if (signature.m_eState == Unknown || (exitCode != 0 && signature.m_sProblem.isEmpty()))
    {
        // The tool's own words, without its name and the file's.
        QString error =
            QString::fromUtf8(errors.left(1024)).trimmed().section(QLatin1Char('\n'), 0, 0);
        const int colon = error.lastIndexOf(QLatin1String(": "));
        if (colon >= 0)
            error = error.mid(colon + 2);
        if (!error.isEmpty())
            signature.m_sProblem = error;
    }
    return signature;
}

QString CPackageSignature::summary() const
{
    const QString signer = m_lChain.isEmpty() ? QString() : m_lChain.first().name;
    switch (m_eState)
    {
    case Unsigned:
        return tr("Unsigned installer");
    case Trusted:
        return tr("Signed by %1").arg(signer);
    case Untrusted:
        return tr("Signed by %1 (not trusted on this computer)").arg(signer);
    case Expired:
        return tr("Signed by %1 (certificate expired)").arg(signer);
    case Invalid:
        return tr("Signature does not match the installer");
    case Damaged:
        return tr("Signature unreadable: the installer is damaged");
    case Identity:
        return tr("Signs as %1").arg(signer);
    case Unknown:
        break;
    }
    return tr("Signature not checked");
}

QString CPackageSignature::details() const
{
    QStringList lines;
    lines << summary();
    if (verifies())
        lines << tr("The signature matches the installer.");
    if (!m_sProblem.isEmpty())
        lines << m_sProblem;
    for (const Certificate& certificate : m_lChain)
        lines << tr("%1, issued by %2, valid from %3 to %4")
                     .arg(certificate.name, certificate.issuer, certificate.validFrom,
                          certificate.expires);
    return lines.join(QLatin1Char('\n'));
}
