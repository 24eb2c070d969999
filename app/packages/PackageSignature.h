#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

// What the system's pkgutil says of a flat package's signature, or of an identity
// that would sign one. Checking a signature is information for the administrator,
// never a reason to refuse a package.
class CPackageSignature
{
    Q_DECLARE_TR_FUNCTIONS(CPackageSignature)

public:
    enum State
    {
        Unknown, // the tool could not be run or said nothing recognisable
        Unsigned,
        Trusted,   // verifies, with a chain up to a trusted root
        Untrusted, // verifies, but the chain ends at a root this system does not trust
        Expired,   // verifies, but the signer's certificate has expired
        Invalid,   // a signature that does not match the archive
        Damaged,   // the archive itself cannot be read
        Identity   // a signing identity that can sign (checkIdentity)
    };

    struct Certificate
    {
        QString name;
        QString issuer;
        QString validFrom;
        QString expires;
    };

    // Runs "pkgutil --check-signature" on the package, within a time limit.
    static CPackageSignature check(const QString& packagePath);
    // Loads a PKCS#12 identity as publishing would ("pkgutil --check-identity"); the
    // password goes to the tool in its environment, never on its command line.
    static CPackageSignature checkIdentity(const QString& identityFile, const QString& password);
    // Reads a report of either tool.
    static CPackageSignature parse(int exitCode, const QByteArray& output,
                                   const QByteArray& errors);

    State state() const { return m_eState; }
    // The signature matches the archive, whoever made it.
    bool verifies() const
    {
        return m_eState == Trusted || m_eState == Untrusted || m_eState == Expired;
    }
    // The signer first, then the chain above it.
    const QList<Certificate>& chain() const { return m_lChain; }
    // Why the signature is invalid or not trusted, or why the identity cannot sign.
    QString problem() const { return m_sProblem; }

    // One line for the window ("Unsigned installer", "Signed by ...").
    QString summary() const;
    // The chain and the verdict, a few lines.
    QString details() const;

private:
    State m_eState = Unknown;
    QList<Certificate> m_lChain;
    QString m_sProblem;
};
