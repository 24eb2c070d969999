#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What the system's pkgutil says of a flat package's signature, or of an identity
// that would sign one. Checking a signature is information for the administrator,
// never a reason to refuse a package. Every text it hands out comes from certificates
// or the tool and is already escaped for display (displayText), so a name cannot add a
// line or turn text around wherever it is shown.
class CPackageSignature
{
    Q_DECLARE_TR_FUNCTIONS(CPackageSignature)

public:
    enum State
    {
        Unknown, // the tool could not be run or said nothing recognisable
        Unsigned,
        Trusted,   // verifies, with a chain up to a trusted root, meant for signing installers
        Untrusted, // verifies, but the chain ends at a root this system does not trust, or
                   // the signer's certificate is not meant for signing installers
        Expired,   // verifies, but the signer's certificate has expired
        Invalid,   // a signature that does not match the archive, or an ambiguous one
        Damaged,   // the archive itself cannot be read
        Identity   // a signing identity that can sign (checkIdentity)
    };

    // One certificate of the chain, every text ready for display.
    struct Certificate
    {
        QString name;   // the common name, else the whole subject
        QString issuer; // the issuer's common name, else its whole name
        QString validFrom;
        QString expires;
        QString subject;              // the whole subject ("CN=..., O=...")
        QString issuerSubject;        // the whole issuer name
        QStringList keyUsage;         // "digitalSignature", ...; empty when none is named
        QStringList extendedKeyUsage; // "installerPackageSigning", "codeSigning", ...
        QString sha256;               // the SHA-256 fingerprint, upper-case hex bytes
    };

    // An RFC 3161 time stamp the signature carries.
    struct Timestamp
    {
        bool present = false;
        bool trusted = false; // honoured: the signature counts as made at time
        QDateTime time;       // UTC
        QString authority;
        QString problem; // why it is not honoured
    };

    // Runs "pkgutil --check-signature" on the package, within a time limit.
    static CPackageSignature check(const QString& packagePath);
    // Loads a PKCS#12 identity as publishing would ("pkgutil --check-identity"), and
    // with a time-stamping authority asks it for a time stamp; the password goes to the
    // tool in its environment, never on its command line.
    static CPackageSignature checkIdentity(const QString& identityFile, const QString& password,
                                           const QString& timestampUrl = QString());
    // Reads a report of either tool: the structured (JSON) report, or the text report
    // read strictly: the status only from its own line, right after the header that
    // names the package (packagePath, when known, must be named exactly).
    static CPackageSignature parse(int exitCode, const QByteArray& output, const QByteArray& errors,
                                   const QString& packagePath = QString());

    // Text from outside made safe to show: control characters as "\n", "\x1b", line
    // separators and bidirectional or invisible controls as "\u202E", a backslash as
    // "\\". The one place every window, tooltip and report escapes such text.
    static QString displayText(const QString& text);

    State state() const { return m_eState; }
    // The package carries a signature, good or not; publishing a changed copy loses it.
    bool present() const
    {
        return m_eState != Unknown && m_eState != Unsigned && m_eState != Identity;
    }
    // What the administrator is told when a signed installer is published unsigned.
    static QString unsignedCopyWarning();
    // Why url cannot name a time-stamping authority (an http:// or https:// address with a
    // host); empty when it can.
    static QString timestampUrlProblem(const QString& url);

    // The signature matches the archive, whoever made it.
    bool verifies() const
    {
        return m_eState == Trusted || m_eState == Untrusted || m_eState == Expired;
    }
    // The signer first, then the chain above it.
    const QList<Certificate>& chain() const { return m_lChain; }
    // Why the signature is invalid or not trusted, or why the identity cannot sign.
    QString problem() const { return m_sProblem; }
    const Timestamp& timestamp() const { return m_timestamp; }
    // Weaknesses of a signature that still counts (a SHA-1 checksum, a time stamp that
    // was not honoured).
    const QStringList& warnings() const { return m_lWarnings; }

    // One line for the window ("Unsigned installer", "Signed by ...").
    QString summary() const;
    // The verdict, the time stamp, the warnings and the whole chain, a few lines.
    QString details() const;
    // One certificate in full, a few lines: name, subject, issuer, validity, usages and
    // fingerprint.
    static QString describe(const Certificate& certificate);

private:
    static CPackageSignature parseJson(int exitCode, const QByteArray& output);
    static CPackageSignature parseText(const QString& report, const QString& packagePath);

    State m_eState = Unknown;
    QList<Certificate> m_lChain;
    QString m_sProblem;
    Timestamp m_timestamp;
    QStringList m_lWarnings;
};
