#include "PublishSigning.h"

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
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

const wchar_t* const CPublishSigning::SettingsKey = L"Software\\Ombrel\\Tessary\\Signing";
const wchar_t* const CPublishSigning::IdentityFileValue = L"IdentityFile";

CPublishSigning::CPublishSigning(QWidget* window)
    : QObject(window), m_pWindow(window), m_pLabel(new QLabel(window))
{
    m_pLabel->setObjectName(QStringLiteral("SignatureStatus"));
    m_pLabel->setContentsMargins(10, 0, 10, 0);
    m_pLabel->hide();
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        std::wstring value;
        store->Read(SettingsKey, IdentityFileValue, value, std::wstring());
        m_sIdentityFile = QString::fromStdWString(value);
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
    m_pLabel->setToolTip(m_source.details());
    m_pLabel->show();
}

void CPublishSigning::remember() const
{
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        if (!store->Write(SettingsKey, IdentityFileValue, m_sIdentityFile.toStdWString()) ||
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
                // The identity is opened as publishing would: a wrong password or an
                // unsuitable certificate is said here, not after a long publish.
                CPackageSignature identity;
                {
                    const COverrideCursor wait(Qt::WaitCursor);
                    identity = CPackageSignature::checkIdentity(file->text(), password->text());
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
            return true;
        }
    }
    const CPackageSignature::State state = m_source.state();
    if (!m_bWarned && state != CPackageSignature::Unsigned && state != CPackageSignature::Unknown)
    {
        m_bWarned = true;
        QMessageBox box(QMessageBox::Information, tr("Tessary"),
                        tr("The installer you opened is signed. The published copy will be "
                           "unsigned: any change to an installer breaks its signature."),
                        QMessageBox::Ok | QMessageBox::Cancel, m_pWindow);
        box.setObjectName(QStringLiteral("UnsignedOutputWarning"));
        box.setInformativeText(tr("To sign what you publish, choose a signing identity under "
                                  "Publish > Signing Identity..."));
        if (box.exec() != QMessageBox::Ok)
            return false;
    }
    return true;
}
