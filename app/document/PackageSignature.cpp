#include "PackageSignature.h"

#include <ToolRunner.h>

#include <QDebug>
#include <QStringList>

namespace
{
const int kCheckMsecs = 30000;
// A report is a few lines per certificate; more is no report of pkgutil's.
const int kMaxReportBytes = 256 * 1024;
const int kMaxChain = 16;
} // namespace

CPackageSignature CPackageSignature::check(const QString& path)
{
    qDebug().noquote() << "CPackageSignature::check(" + path + ") begin";
    const CToolRunner::Result result =
        CToolRunner::run(QStringLiteral("pkgutil"), {QStringLiteral("--check-signature"), path},
                         QString(), kCheckMsecs);
    CPackageSignature signature;
    // pkgutil ends with 1 for an unsigned or invalid package; the report tells which.
    if (result.finished && !result.crashed && result.output.size() <= kMaxReportBytes)
        signature = parse(QString::fromUtf8(result.output));
    qDebug().noquote() << "CPackageSignature::check(" + path + ") end";
    return signature;
}

CPackageSignature CPackageSignature::parse(const QString& report)
{
    CPackageSignature signature;
    CCertificate* current = nullptr;
    for (const QString& raw : report.split(QLatin1Char('\n')))
    {
        const QString line = raw.trimmed();
        auto after = [&](const char* label) { return line.mid(int(qstrlen(label))).trimmed(); };
        if (line.startsWith(QLatin1String("Status:")))
        {
            const QString status = after("Status:");
            if (status == QLatin1String("no signature"))
                signature.m_state = Unsigned;
            else if (status.startsWith(QLatin1String("damaged archive:")))
            {
                signature.m_state = Damaged;
                signature.m_sProblem = status.mid(16).trimmed();
            }
            else if (status.startsWith(QLatin1String("invalid signature:")))
            {
                signature.m_state = Invalid;
                signature.m_sProblem = status.mid(18).trimmed();
            }
            else if (status.startsWith(QLatin1String("signed ")))
            {
                signature.m_state = Verified;
                signature.m_sTrust = status;
            }
        }
        else if (line.startsWith(QLatin1String("Reason:")))
            signature.m_sProblem = after("Reason:");
        else if (line.startsWith(QLatin1String("Issued by:")) && current)
            current->m_sIssuer = after("Issued by:");
        else if (line.startsWith(QLatin1String("Valid from:")) && current)
            current->m_sValidFrom = after("Valid from:");
        else if (line.startsWith(QLatin1String("Expires:")) && current)
            current->m_sExpires = after("Expires:");
        else if (signature.m_state == Verified && signature.m_lChain.size() < kMaxChain)
        {
            // "1. Common Name" starts the next certificate of the chain.
            const int dot = line.indexOf(QLatin1String(". "));
            bool number = false;
            if (dot > 0)
                line.left(dot).toInt(&number);
            if (number)
            {
                signature.m_lChain.append(CCertificate{line.mid(dot + 2), {}, {}, {}});
                current = &signature.m_lChain.last();
            }
        }
    }
    return signature;
}

QString CPackageSignature::stateName(State state)
{
    switch (state)
    {
    case Unknown:
        return QStringLiteral("unknown");
    case Unsigned:
        return QStringLiteral("unsigned");
    case Damaged:
        return QStringLiteral("damaged");
    case Invalid:
        return QStringLiteral("invalid");
    case Verified:
        return QStringLiteral("verified");
    }
    return QString();
}
