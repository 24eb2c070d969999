#include "PublishSigning.h"

#include "SignatureDetailsDialog.h"

#include "shared/XmlWidgets/OverrideCursor.h"

#include <preference/Preference.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

const wchar_t* const CPublishSigning::SettingsKey = L"Software\\Ombrel\\Tessary\\Signing";
const wchar_t* const CPublishSigning::IdentityFileValue = L"IdentityFile";
const wchar_t* const CPublishSigning::TimestampUrlValue = L"TimestampUrl";

CPublishSigning::CPublishSigning(QWidget* window)
    : QObject(window), m_pWindow(window), m_pLabel(new QLabel(window)),
      m_pDetails(new QToolButton(window))
{
    m_pLabel->setObjectName(QStringLiteral("SignatureStatus"));
    // Names come from certificates: shown as they are, never as markup.
    m_pLabel->setTextFormat(Qt::PlainText);
    m_pLabel->setContentsMargins(10, 0, 10, 0);
    m_pLabel->setAccessibleName(tr("Installer signature"));
    m_pLabel->setCursor(Qt::PointingHandCursor);
    m_pLabel->installEventFilter(this);
    m_pLabel->hide();
    m_pDetails->setObjectName(QStringLiteral("SignatureDetailsButton"));
    m_pDetails->setText(tr("Details..."));
    m_pDetails->setAccessibleName(tr("Signature details"));
    m_pDetails->setToolTip(tr("Show the installer's signature and its certificates"));
    m_pDetails->setFocusPolicy(Qt::StrongFocus);
    m_pDetails->setAutoRaise(true);
    m_pDetails->hide();
    connect(m_pDetails, &QAbstractButton::clicked, this, &CPublishSigning::showDetails);
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        std::wstring value;
        store->Read(SettingsKey, IdentityFileValue, value, std::wstring());
        m_sIdentityFile = QString::fromStdWString(value);
        value.clear();
        store->Read(SettingsKey, TimestampUrlValue, value, std::wstring());
        // A stored address is used only as the dialog would take it.
        const QString url = QString::fromStdWString(value);
        if (CPackageSignature::timestampUrlProblem(url).isEmpty())
            m_sTimestampUrl = url;
    }
}

CPublishSigning::~CPublishSigning() = default;

void CPublishSigning::documentOpened(const QString& flatPackagePath)
{
    qDebug().nospace().noquote() << "CPublishSigning::documentOpened(" << flatPackagePath
                                 << ") begin";
    const int generation = ++m_nGeneration;
    m_sSourcePath = flatPackagePath;
    m_source = CPackageSignature();
    m_bWarned = false;
    m_pDetails->hide();
    if (flatPackagePath.isEmpty())
    {
        m_pLabel->hide();
        return;
    }
    m_pLabel->setText(tr("Checking the installer's signature..."));
    m_pLabel->setToolTip(QString());
    m_pLabel->show();
    // Hashing a large package takes a while: the check runs beside the window and
    // reports back on the window's thread; a newer document makes its answer moot.
    QPointer<CPublishSigning> self(this);
    QThread* const thread = QThread::create(
        [self, generation, flatPackagePath]
        {
            const CPackageSignature signature = CPackageSignature::check(flatPackagePath);
            QMetaObject::invokeMethod(
                qApp,
                [self, generation, signature]
                {
                    if (!self || self->m_nGeneration != generation)
                        return;
                    self->m_source = signature;
                    self->showSource();
                    emit self->sourceSignatureChecked();
                },
                Qt::QueuedConnection);
        });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    qDebug().nospace().noquote() << "CPublishSigning::documentOpened(" << flatPackagePath
                                 << ") end";
}

void CPublishSigning::showSource()
{
    m_pLabel->setText(m_source.summary());
    // A tooltip is read as markup when it looks like some: the details go as escaped
    // rich text, whatever a certificate calls itself.
    m_pLabel->setToolTip(Qt::convertFromPlainText(m_source.details(), Qt::WhiteSpaceNormal));
    m_pLabel->show();
    m_pDetails->show();
}

void CPublishSigning::showDetails()
{
    if (m_pLabel->isHidden() || m_sSourcePath.isEmpty())
        return;
    CSignatureDetailsDialog dialog(m_source, m_pWindow);
    dialog.exec();
}

bool CPublishSigning::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pLabel && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !m_pDetails->isHidden())
    {
        // Opened after the click has been handled, not inside the label's own event.
        QMetaObject::invokeMethod(this, &CPublishSigning::showDetails, Qt::QueuedConnection);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CPublishSigning::remember() const
{
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        if (!store->Write(SettingsKey, IdentityFileValue, m_sIdentityFile.toStdWString()) ||
            !store->Write(SettingsKey, TimestampUrlValue, m_sTimestampUrl.toStdWString()) ||
            !store->Commit())
            qDebug() << "CPublishSigning::remember(): the identity file was not stored";
    }
}

bool CPublishSigning::chooseIdentity()
{
    qDebug() << "CPublishSigning::chooseIdentity() begin";
    QDialog dialog(m_pWindow);
    dialog.setObjectName(QStringLiteral("SigningDialog"));
    dialog.setWindowTitle(tr("Signing Identity"));
    dialog.setMinimumWidth(520);
    auto* const layout = new QVBoxLayout(&dialog);
    auto* const intro = new QLabel(
        tr("Published flat packages are signed with this identity: a PKCS#12 file (.p12) "
           "holding an installer-signing certificate and its private key. The file is "
           "remembered; the password only until Tessary quits."),
        &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* const form = new QFormLayout;
    auto* const sign = new QCheckBox(tr("&Sign published flat packages"), &dialog);
    sign->setObjectName(QStringLiteral("SignPublished"));
    // Opened to sign: the choice is on until the administrator turns it off.
    sign->setChecked(true);
    form->addRow(sign);
    auto* const fileRow = new QHBoxLayout;
    auto* const file = new QLineEdit(m_sIdentityFile, &dialog);
    file->setObjectName(QStringLiteral("IdentityFile"));
    auto* const choose = new QPushButton(tr("Choose..."), &dialog);
    fileRow->addWidget(file);
    fileRow->addWidget(choose);
    auto* const fileLabel = new QLabel(tr("&Identity file:"), &dialog);
    fileLabel->setBuddy(file);
    form->addRow(fileLabel, fileRow);
    auto* const password = new QLineEdit(m_sPassword, &dialog);
    password->setObjectName(QStringLiteral("IdentityPassword"));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("&Password:"), password);
    auto* const timestamp = new QLineEdit(m_sTimestampUrl, &dialog);
    timestamp->setObjectName(QStringLiteral("TimestampUrl"));
    timestamp->setPlaceholderText(tr("none (http:// or https:// address)"));
    timestamp->setToolTip(
        tr("An RFC 3161 time-stamping authority: its time stamp keeps the signature valid "
           "after the certificate expires. Leave empty to sign without one."));
    form->addRow(tr("&Time-stamping server:"), timestamp);
    layout->addLayout(form);
    auto* const verdict = new QLabel(&dialog);
    verdict->setObjectName(QStringLiteral("IdentityVerdict"));
    verdict->setWordWrap(true);
    layout->addWidget(verdict);
    auto* const buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);

    const auto enable = [=]
    {
        file->setEnabled(sign->isChecked());
        choose->setEnabled(sign->isChecked());
        password->setEnabled(sign->isChecked());
        timestamp->setEnabled(sign->isChecked());
    };
    enable();
    connect(sign, &QCheckBox::toggled, &dialog, enable);
    connect(choose, &QPushButton::clicked, &dialog,
            [&]
            {
                const QString chosen = QFileDialog::getOpenFileName(
                    &dialog, tr("Choose a Signing Identity"),
                    QFileInfo(file->text()).absolutePath(),
                    tr("Signing identities (*.p12 *.pfx);;All files (*)"));
                if (!chosen.isEmpty())
                    file->setText(chosen);
            });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog,
            [&]
            {
                if (!sign->isChecked())
                {
                    dialog.accept();
                    return;
                }
                const QString url = timestamp->text().trimmed();
                if (!url.isEmpty())
                {
                    const QString problem = CPackageSignature::timestampUrlProblem(url);
                    if (!problem.isEmpty())
                    {
                        verdict->setText(problem);
                        timestamp->setFocus();
                        return;
                    }
                }
                // The identity is opened as publishing would, and the authority asked
                // once: a wrong password, an unsuitable certificate or a server that
                // gives no time stamp is said here, not after a long publish.
                CPackageSignature identity;
                {
                    const COverrideCursor wait(Qt::WaitCursor);
                    identity =
                        CPackageSignature::checkIdentity(file->text(), password->text(), url);
                }
                if (identity.state() != CPackageSignature::Identity)
                {
                    verdict->setText(tr("This identity cannot sign: %1").arg(identity.problem()));
                    return;
                }
                dialog.accept();
            });

    if (dialog.exec() != QDialog::Accepted)
    {
        qDebug() << "CPublishSigning::chooseIdentity() end canceled";
        return false;
    }
    m_sIdentityFile = sign->isChecked() ? QFileInfo(file->text()).absoluteFilePath() : QString();
    m_sPassword = sign->isChecked() ? password->text() : QString();
    m_sTimestampUrl = sign->isChecked() ? timestamp->text().trimmed() : m_sTimestampUrl;
    m_bUnlocked = sign->isChecked();
    remember();
    qDebug() << "CPublishSigning::chooseIdentity() end";
    return true;
}

bool CPublishSigning::prepare(CMacFlatPackage::Signing& signing)
{
    signing = CMacFlatPackage::Signing();
    if (!m_sIdentityFile.isEmpty())
    {
        // A password is needed once a session; the dialog checks it.
        if (!m_bUnlocked && !chooseIdentity())
            return false;
        if (!m_sIdentityFile.isEmpty())
        {
            signing.identityFile = m_sIdentityFile;
            signing.password = m_sPassword;
            signing.timestampUrl = m_sTimestampUrl;
            return true;
        }
    }
    if (!m_bWarned && m_source.present())
    {
        m_bWarned = true;
        QMessageBox box(QMessageBox::Information, tr("Tessary"),
                        CPackageSignature::unsignedCopyWarning(),
                        QMessageBox::Ok | QMessageBox::Cancel, m_pWindow);
        box.setObjectName(QStringLiteral("UnsignedOutputWarning"));
        box.setInformativeText(tr("To sign what you publish, choose a signing identity under "
                                  "Publish > Signing Identity..."));
        if (box.exec() != QMessageBox::Ok)
            return false;
    }
    return true;
}
