#include "PackageSignature.h"

#include "ToolRunner.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QUrl>

namespace
{
// Reading a table of contents and hashing the members of a large package.
const int kCheckLimitMs = 120000;
// No report is longer; the rest of a runaway output is ignored.
const int kMaxReportBytes = 256 * 1024;
const int kMaxChain = 16;
const int kMaxWarnings = 16;

// The structured report is the stand-in's; Apple's pkgutil has only the text one.
#ifdef Q_OS_MACOS
const bool kStructuredReport = false;
#else
const bool kStructuredReport = true;
#endif

// Characters that move text about or hide it, besides the controls: the bidirectional
// embeddings, overrides, isolates and marks, the zero-width space and the BOM.
bool isInvisibleControl(uint c)
{
    return c == 0x061C || c == 0x200B || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

QString shown(const QJsonValue& value)
{
    return CPackageSignature::displayText(value.toString());
}

QStringList shownList(const QJsonValue& value)
{
    QStringList list;
    const QJsonArray array = value.toArray();
    for (int i = 0; i < array.size() && i < kMaxChain; ++i)
        list << shown(array.at(i));
    return list;
}

// "2024-05-01 12:00:00 +0000", as the text report gives times.
QString reportTime(const QJsonValue& value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"))
                          : shown(value);
}

QString afterPrefix(const QString& line, const QString& prefix)
{
    return CPackageSignature::displayText(line.mid(prefix.size()));
}
} // namespace

QString CPackageSignature::displayText(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i)
    {
        uint c = text.at(i).unicode();
        const bool pair =
            QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
        const QChar::Category category = QChar::category(c);
        if (c == '\\')
            result += QLatin1String("\\\\");
        else if (c == '\n')
            result += QLatin1String("\\n");
        else if (c == '\r')
            result += QLatin1String("\\r");
        else if (c == '\t')
            result += QLatin1String("\\t");
        else if (c < 0x20 || c == 0x7F)
            result += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        else if (category == QChar::Other_Control || category == QChar::Separator_Line ||
                 category == QChar::Separator_Paragraph || category == QChar::Other_Surrogate ||
                 isInvisibleControl(c))
            result += QLatin1String("\\u") +
                      QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        else if (pair)
            result += text.mid(i, 2);
        else
            result += text.at(i);
        if (pair)
            ++i;
    }
    return result;
}

QString CPackageSignature::unsignedCopyWarning()
{
    return tr("The installer you opened is signed. The published copy will be unsigned: any "
              "change to an installer breaks its signature.");
}

QString CPackageSignature::timestampUrlProblem(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (parsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !parsed.host().isEmpty())
        return QString();
    return tr("\"%1\" is no address of a time-stamping server: give an http:// or https:// "
              "address such as http://timestamp.example.com/.")
        .arg(displayText(url.left(200)));
}

CPackageSignature CPackageSignature::check(const QString& packagePath)
{
    qDebug().nospace().noquote() << "CPackageSignature::check(" << packagePath << ") begin";
    const QString path = QFileInfo(packagePath).absoluteFilePath();
    QStringList arguments = {QStringLiteral("--check-signature"), path};
    if (kStructuredReport)
        arguments << QStringLiteral("--json");
    const CToolRunner::Result result =
        CToolRunner::run(QStringLiteral("pkgutil"), arguments, QString(), kCheckLimitMs);
    CPackageSignature signature;
    if (result.finished && !result.crashed)
        signature = parse(result.exitCode, result.output, result.errors, path);
    else
        signature.m_sProblem = tr("The signature could not be checked.");
    qDebug().nospace().noquote() << "CPackageSignature::check(" << packagePath << ") end "
                                 << signature.m_eState;
    return signature;
}

CPackageSignature CPackageSignature::checkIdentity(const QString& identityFile,
                                                   const QString& password,
                                                   const QString& timestampUrl)
{
    qDebug().nospace().noquote() << "CPackageSignature::checkIdentity(" << identityFile
                                 << ") begin";
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("TESSARY_SIGN_PASSWORD"), password);
    QStringList arguments = {
        QStringLiteral("--check-identity"), QFileInfo(identityFile).absoluteFilePath(),
        QStringLiteral("--sign-password-env"), QStringLiteral("TESSARY_SIGN_PASSWORD")};
    if (!timestampUrl.isEmpty())
        arguments << QStringLiteral("--timestamp-url") << timestampUrl;
    if (kStructuredReport)
        arguments << QStringLiteral("--json");
    const CToolRunner::Result result = CToolRunner::runCancelable(
        QStringLiteral("pkgutil"), arguments, CToolRunner::CancelTest(), QString(), environment);
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
                                           const QByteArray& errors, const QString& packagePath)
{
    const QByteArray report = output.left(kMaxReportBytes);
    CPackageSignature signature = report.trimmed().startsWith('{')
                                      ? parseJson(exitCode, report)
                                      : parseText(QString::fromUtf8(report), packagePath);
    // A report of success from a tool that failed is no success.
    if (signature.m_eState == Identity && exitCode != 0)
        signature.m_eState = Unknown;
    if (exitCode != 0 && signature.verifies())
        signature.m_eState = Unknown;
    if (signature.m_eState == Unknown || (exitCode != 0 && signature.m_sProblem.isEmpty()))
    {
        // The tool's own words, without its name and the file's.
        QString error =
            QString::fromUtf8(errors.left(1024)).trimmed().section(QLatin1Char('\n'), 0, 0);
        const int colon = error.lastIndexOf(QLatin1String(": "));
        if (colon >= 0)
            error = error.mid(colon + 2);
        if (!error.isEmpty() && signature.m_sProblem.isEmpty())
            signature.m_sProblem = displayText(error);
    }
    return signature;
}

CPackageSignature CPackageSignature::parseJson(int exitCode, const QByteArray& output)
{
    CPackageSignature signature;
    const QJsonObject root = QJsonDocument::fromJson(output).object();
    for (const QJsonValue& value : root.value(QStringLiteral("certificates")).toArray())
    {
        if (signature.m_lChain.size() == kMaxChain)
            break;
        const QJsonObject object = value.toObject();
        Certificate certificate;
        certificate.subject = shown(object.value(QStringLiteral("subject")));
        certificate.name = shown(object.value(QStringLiteral("commonName")));
        if (certificate.name.isEmpty())
            certificate.name = certificate.subject;
        certificate.issuerSubject = shown(object.value(QStringLiteral("issuer")));
        certificate.issuer = shown(object.value(QStringLiteral("issuerCommonName")));
        if (certificate.issuer.isEmpty())
            certificate.issuer = certificate.issuerSubject;
        certificate.validFrom = reportTime(object.value(QStringLiteral("notBefore")));
        certificate.expires = reportTime(object.value(QStringLiteral("notAfter")));
        certificate.keyUsage = shownList(object.value(QStringLiteral("keyUsage")));
        certificate.extendedKeyUsage = shownList(object.value(QStringLiteral("extendedKeyUsage")));
        certificate.sha256 = shown(object.value(QStringLiteral("sha256")));
        signature.m_lChain.append(certificate);
    }
    signature.m_sProblem = shown(root.value(QStringLiteral("problem")));
    signature.m_lWarnings = shownList(root.value(QStringLiteral("warnings"))).mid(0, kMaxWarnings);
    if (root.contains(QStringLiteral("identity")))
    {
        const bool usable = root.value(QStringLiteral("usable")).toBool();
        signature.m_eState =
            usable && exitCode == 0 && !signature.m_lChain.isEmpty() ? Identity : Unknown;
        return signature;
    }
    const QJsonObject stamp = root.value(QStringLiteral("timestamp")).toObject();
    if (!stamp.isEmpty())
    {
        signature.m_timestamp.present = true;
        signature.m_timestamp.trusted = stamp.value(QStringLiteral("trusted")).toBool();
        signature.m_timestamp.time =
            QDateTime::fromString(stamp.value(QStringLiteral("time")).toString(), Qt::ISODate)
                .toUTC();
        signature.m_timestamp.authority = shown(stamp.value(QStringLiteral("authority")));
        signature.m_timestamp.problem = shown(stamp.value(QStringLiteral("problem")));
    }
    // No static table: a check may still run on its own thread while the program ends.
    const QString status = root.value(QStringLiteral("status")).toString();
    const State states[] = {Unsigned, Trusted, Untrusted, Expired, Invalid, Damaged};
    const char* const names[] = {"unsigned", "trusted", "untrusted",
                                 "expired",  "invalid", "damaged"};
    for (std::size_t i = 0; i < sizeof states / sizeof states[0]; ++i)
        if (status == QLatin1String(names[i]))
            signature.m_eState = states[i];
    return signature;
}

CPackageSignature CPackageSignature::parseText(const QString& report, const QString& packagePath)
{
    CPackageSignature signature;
    // The header names the package; when its path is known it must be named exactly, so
    // that a path cannot bring a status line of its own.
    const QString header = QStringLiteral("Package \"") + packagePath + QStringLiteral("\":\n");
    int start = 0;
    if (!packagePath.isEmpty())
    {
        if (!report.startsWith(header))
            return signature;
        start = header.size();
    }
    else if (report.startsWith(QLatin1String("Package \"")) ||
             report.startsWith(QLatin1String("Identity \"")))
        start = report.indexOf(QLatin1Char('\n')) + 1;
    else
        return signature;
    const bool identity = report.startsWith(QLatin1String("Identity \""));
    QStringList lines = report.mid(start).split(QLatin1Char('\n'));
    if (identity)
        signature.m_eState = Identity;
    else
    {
        // The one status, on the line right after the header.
        const QString status = lines.isEmpty() ? QString() : lines.takeFirst();
        const QString label = QStringLiteral("   Status: ");
        if (!status.startsWith(label))
            return signature;
        const QString verdict = status.mid(label.size());
        if (verdict == QLatin1String("no signature"))
            signature.m_eState = Unsigned;
        else if (verdict.startsWith(QLatin1String("invalid signature: ")))
            signature.m_eState = Invalid;
        else if (verdict.startsWith(QLatin1String("damaged archive: ")))
            signature.m_eState = Damaged;
        else if (verdict.contains(QLatin1String("expired")))
            signature.m_eState = Expired;
        else if (verdict.contains(QLatin1String("untrusted")))
            signature.m_eState = Untrusted;
        else if (verdict.startsWith(QLatin1String("signed")))
            signature.m_eState = Trusted;
        if (signature.m_eState == Invalid || signature.m_eState == Damaged)
            signature.m_sProblem = displayText(verdict.section(QLatin1String(": "), 1));
    }
    const QString certificatePrefix = QStringLiteral("    ");
    const QString fieldPrefix = QStringLiteral("       ");
    bool fingerprint = false;
    for (const QString& line : lines)
    {
        const auto field = [&](const char* name)
        { return line.startsWith(fieldPrefix + QLatin1String(name)); };
        if (line.startsWith(QLatin1String("   Reason: ")))
            signature.m_sProblem = afterPrefix(line, QStringLiteral("   Reason: "));
        else if (line.startsWith(QLatin1String("   Warning: ")) &&
                 signature.m_lWarnings.size() < kMaxWarnings)
            signature.m_lWarnings << afterPrefix(line, QStringLiteral("   Warning: "));
        else if (line.startsWith(QLatin1String("   Signed with a trusted timestamp on: ")))
        {
            signature.m_timestamp.present = signature.m_timestamp.trusted = true;
            signature.m_timestamp.time =
                QDateTime::fromString(line.mid(39).left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            signature.m_timestamp.time.setTimeSpec(Qt::UTC);
        }
        else if (line.startsWith(certificatePrefix) && !line.startsWith(fieldPrefix) &&
                 line.at(4).isDigit() && signature.m_lChain.size() < kMaxChain)
        {
            Certificate certificate;
            certificate.name = certificate.subject =
                displayText(line.section(QLatin1String(". "), 1));
            signature.m_lChain.append(certificate);
            fingerprint = false;
        }
        else if (signature.m_lChain.isEmpty())
            continue;
        else if (field("Issued by: "))
            signature.m_lChain.last().issuer = signature.m_lChain.last().issuerSubject =
                afterPrefix(line, fieldPrefix + QStringLiteral("Issued by: "));
        else if (field("Valid from: "))
            signature.m_lChain.last().validFrom =
                afterPrefix(line, fieldPrefix + QStringLiteral("Valid from: "));
        else if (field("Expires: "))
            signature.m_lChain.last().expires =
                afterPrefix(line, fieldPrefix + QStringLiteral("Expires: "));
        else if (field("SHA256 Fingerprint:"))
            fingerprint = true;
        else if (fingerprint && line.startsWith(fieldPrefix + QStringLiteral("    ")))
        {
            QString& sha256 = signature.m_lChain.last().sha256;
            sha256 +=
                (sha256.isEmpty() ? QString() : QStringLiteral(" ")) + displayText(line.trimmed());
        }
        else
            fingerprint = false;
    }
    // Apple's tool names no issuer: it is the next certificate up the chain.
    for (int i = 0; i + 1 < signature.m_lChain.size(); ++i)
        if (signature.m_lChain[i].issuer.isEmpty())
            signature.m_lChain[i].issuer = signature.m_lChain[i + 1].name;
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
        if (m_timestamp.trusted)
            return tr("Signed by %1, with a trusted timestamp on %2")
                .arg(signer, m_timestamp.time.toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
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

QString CPackageSignature::describe(const Certificate& certificate)
{
    QStringList lines;
    lines << tr("%1, issued by %2, valid from %3 to %4")
                 .arg(certificate.name, certificate.issuer, certificate.validFrom,
                      certificate.expires);
    if (!certificate.subject.isEmpty() && certificate.subject != certificate.name)
        lines << tr("Subject: %1").arg(certificate.subject);
    if (!certificate.issuerSubject.isEmpty() && certificate.issuerSubject != certificate.issuer)
        lines << tr("Issuer: %1").arg(certificate.issuerSubject);
    const QString none = tr("none named");
    lines << tr("Key usage: %1")
                 .arg(certificate.keyUsage.isEmpty()
                          ? none
                          : certificate.keyUsage.join(QStringLiteral(", ")));
    lines << tr("Extended key usage: %1")
                 .arg(certificate.extendedKeyUsage.isEmpty()
                          ? none
                          : certificate.extendedKeyUsage.join(QStringLiteral(", ")));
    if (!certificate.sha256.isEmpty())
        lines << tr("SHA-256: %1").arg(certificate.sha256);
    return lines.join(QLatin1Char('\n'));
}

QString CPackageSignature::details() const
{
    QStringList lines;
    lines << summary();
    if (verifies())
        lines << tr("The signature matches the installer.");
    if (!m_sProblem.isEmpty())
        lines << m_sProblem;
    for (const QString& warning : m_lWarnings)
        lines << tr("Warning: %1").arg(warning);
    for (const Certificate& certificate : m_lChain)
        lines << QString() << describe(certificate);
    return lines.join(QLatin1Char('\n'));
}
