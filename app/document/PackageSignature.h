#pragma once

#include <QList>
#include <QString>

// The signature of a flat package as the system's pkgutil reports it
// ("pkgutil --check-signature"): none, one that does not verify (or an archive
// too damaged to tell), or one that verifies, with the signer's chain and
// whether the system trusts it.
class CPackageSignature
{
public:
    enum State
    {
        Unknown,  // pkgutil could not be run or said nothing readable
        Unsigned, // no signature
        Damaged,  // the archive cannot be read
        Invalid,  // a signature that does not verify
        Verified  // a signature that verifies
    };

    struct CCertificate
    {
        QString m_sName;
        QString m_sIssuer;
        QString m_sValidFrom;
        QString m_sExpires;
    };

    State m_state = Unknown;
    // Verified: pkgutil's verdict on trust ("signed by untrusted certificate", ...).
    QString m_sTrust;
    // Why it does not verify, or why it is not trusted.
    QString m_sProblem;
    // The signer first, then the certificates that issued it.
    QList<CCertificate> m_lChain;

    // Asks pkgutil about the flat package at path (30 s at most).
    static CPackageSignature check(const QString& path);
    // Reads pkgutil's report.
    static CPackageSignature parse(const QString& report);

    static QString stateName(State state);
};
