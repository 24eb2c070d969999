#pragma once

#include "app/packages/MacFlatPackage.h"
#include "app/packages/PackageSignature.h"

#include <QObject>
#include <QString>

class QLabel;
class QToolButton;
class QWidget;

// Everything about signatures the window shows and asks: the signature the opened
// installer carries (checked in the background, shown in the status bar), the
// identity that signs published flat packages (its file remembered in the
// program's settings, its password only for this session), and the one warning
// that a signed source is published unsigned.
class CPublishSigning : public QObject
{
    Q_OBJECT

public:
    // Where the identity file is remembered, in the application's settings.
    static const wchar_t* const SettingsKey;
    static const wchar_t* const IdentityFileValue;
    static const wchar_t* const TimestampUrlValue;

    explicit CPublishSigning(QWidget* window);
    ~CPublishSigning() override;

    // The status bar label, and the button beside it that opens the signature's
    // details (as a click on the label does); the window owns them once placed.
    QLabel* statusLabel() const { return m_pLabel; }
    QToolButton* detailsButton() const { return m_pDetails; }

    // A document was opened from this installer: checks its signature when it is
    // a flat package (path empty: nothing to show).
    void documentOpened(const QString& flatPackagePath);
    const CPackageSignature& sourceSignature() const { return m_source; }

    // Lets the administrator choose the identity and enter its password.
    // False when the dialog was canceled.
    bool chooseIdentity();
    QString identityFile() const { return m_sIdentityFile; }
    // The time-stamping authority published signatures ask (none when empty).
    QString timestampUrl() const { return m_sTimestampUrl; }

    // Called before a flat package is published: asks for the password when an
    // identity is chosen but not yet unlocked in this session, or warns once that
    // a signed source will be published unsigned. False when the administrator
    // canceled; signing is then what the publish must use.
    bool prepare(CMacFlatPackage::Signing& signing);

    // Forgets the session's password (a failed signing).
    void forgetPassword()
    {
        m_sPassword.clear();
        m_bUnlocked = false;
    }

public slots:
    // Shows the opened installer's signature in full.
    void showDetails();

signals:
    // The background check of an opened installer has finished.
    void sourceSignatureChecked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showSource();
    void remember() const;

    QWidget* m_pWindow;
    QLabel* m_pLabel;
    QToolButton* m_pDetails;
    CPackageSignature m_source;
    QString m_sSourcePath;
    int m_nGeneration = 0;
    bool m_bWarned = false;
    QString m_sIdentityFile;
    QString m_sTimestampUrl;
    QString m_sPassword;
    // The identity opened with m_sPassword in this session (an empty password is one).
    bool m_bUnlocked = false;
};
