#include "PublishFlow.h"

#include "AdminPage.h"

#include "app/document/Publisher.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/PackagerThread.h"
#include "app/review/ReviewDialog.h"
#include "app/secrets/SecretPromptDialog.h"
#include "app/signing/PublishSigning.h"
#include "shared/XmlWidgets/OverrideCursor.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QProgressDialog>
#include <QTimer>

CPublishFlow::CPublishFlow(CAdminPage& window) : QObject(&window), m_window(window)
{
    m_pPublisher = new CPublisher(*window.copyThread(), *window.packagerThread(), this);
    connect(m_pPublisher, &CPublisher::progress, this, &CPublishFlow::progress);
    connect(m_pPublisher, &CPublisher::finished, this, &CPublishFlow::finished);

    m_pProgress = new QProgressDialog(tr("Extracting files..."), tr("Cancel"), 0, 120, &window,
                                      Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    m_pProgress->setWindowFlags(m_pProgress->windowFlags() &
                                ~(Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint));
    m_pProgress->setWindowModality(Qt::WindowModal);
    m_pProgress->setMinimumDuration(0);
    // A minimum duration of 0 would show the idle dialog at once.
    m_pProgress->reset();
    m_pProgress->hide();
    m_pProgressTimer = new QTimer(this);
    connect(m_pProgressTimer, &QTimer::timeout, this, &CPublishFlow::onProgress);
    connect(m_pProgress, &QProgressDialog::canceled, this, &CPublishFlow::cancel);
}

CPublishFlow::~CPublishFlow() = default;

void CPublishFlow::setWaitCursor(bool wait)
{
    if (!wait)
        m_waitCursor.reset();
    else if (!m_waitCursor)
        m_waitCursor.emplace(Qt::WaitCursor);
}

bool CPublishFlow::isRunning() const
{
    return m_pPublisher->isRunning() || m_window.packagerThread()->isRunning();
}

void CPublishFlow::publish()
{
    qDebug() << "CPublishFlow::publish() begin";
    CDocument& document = m_window.document();
    // The progress dialog is modal, but a shortcut may still arrive while it closes.
    if (isRunning())
        return;
    const QFileInfo source = document.sourceFile();
    const QString refusal = document.publishRefusal();
    if (!refusal.isEmpty())
    {
        m_window.showWarning(refusal);
        return;
    }
    if (!CReviewDialog::reviewBeforePublish(&m_window, document, m_window.lastOpenedDirectory()))
        return;
    // A check that cancels the publish has said why itself.
    if (!document.runChecks())
        return;
    // A customization saved without its secrets gets them back: installers need them.
    if (!CSecretPromptDialog::askFor(document.missingSecrets(), m_window.documentTitle(),
                                     &m_window))
        return;
    const QString suffix = source.suffix().toLower();
    const bool mac = suffix == QLatin1String("pkg") || suffix == QLatin1String("mpkg") ||
                     suffix == QLatin1String("dmg");
    const bool script = suffix == QLatin1String("package");
    if (!mac && !script)
        return;

    QString inputSuffix = source.suffix();
    bool flat = script ? false : CMacFlatPackage::isFlatPackage(source.absoluteFilePath());
    CDmgPackage* const image =
        suffix == QLatin1String("dmg") ? dynamic_cast<CDmgPackage*>(document.package()) : nullptr;
    if (suffix == QLatin1String("dmg"))
    {
        // The image is mounted before anything is asked, as the copy needs it.
        if (!image || !image->mount() || !image->subPackage())
        {
            if (image)
                image->unmount();
            m_window.showWarning(
                tr("Tessary is unable to extract files from \"%1\".  Verify that the disk isn't "
                   "full, that the file exists, and that it has read permissions, and then try "
                   "again.")
                    .arg(QDir::toNativeSeparators(source.absoluteFilePath())));
            return;
        }
        inputSuffix = image->subPackage()->file().suffix();
        flat = dynamic_cast<CMacFlatPackage*>(image->subPackage()) != nullptr;
    }
    const QString output = chooseOutput(script, inputSuffix);
    CPublisher::CRequest request;
    // Only a flat package carries a signature of its own.
    if (output.isEmpty() || (flat && !m_window.signing()->prepare(request.m_signing)))
    {
        // An image mounted for a publish that does not happen is let go again.
        if (image)
            image->unmount();
        return;
    }
    request.m_pPackage = document.package();
    request.m_source = source;
    request.m_sOutput = output;
    request.m_lEntries = document.entries(false);
    request.m_lSetEntries = document.entries(true);
    request.m_bOverwrite = true;
    document.setLastPublishedFile(QFileInfo(output));
    setWaitCursor(true);
    m_pProgress->setLabelText(tr("Creating new package..."));
    m_pProgress->setRange(0, 120);
    m_pProgress->setValue(0);
    if (script)
    {
        const qint64 size = source.size();
        m_iProgressScale = size / std::numeric_limits<int>::max() + 1;
        m_pProgress->setRange(0, int(size / m_iProgressScale));
    }
    else
    {
        m_pProgressTimer->start(1000);
    }
    QString message;
    if (!m_pPublisher->start(request, message))
    {
        endProgress();
        m_window.showWarning(message);
    }
    qDebug() << "CPublishFlow::publish() end";
}

QString CPublishFlow::chooseOutput(bool script, const QString& inputSuffix)
{
    const CDocument& document = m_window.document();
    const QString last = document.lastPublishedFile().filePath();
    QString output;
    if (script)
    {
        output = QFileDialog::getSaveFileName(
            &m_window, tr("Save file..."), last.isEmpty() ? m_window.lastOpenedDirectory() : last,
            tr("Package (*.package)"), nullptr, QFileDialog::DontUseNativeDialog);
    }
    else
    {
        QString proposed = last;
        if (proposed.isEmpty())
            proposed = QDir(m_window.lastOpenedDirectory()).filePath(tr("Untitled"));
        if (QFileInfo(proposed).suffix().isEmpty())
            proposed += QLatin1Char('.') + inputSuffix;
        const bool pkg = inputSuffix.compare(QLatin1String("pkg"), Qt::CaseInsensitive) == 0;
        output = QFileDialog::getSaveFileName(&m_window, tr("Save file..."), proposed,
                                              pkg ? tr("Package (*.pkg)") : tr("Package (*.mpkg)"),
                                              nullptr, QFileDialog::DontUseNativeDialog);
    }
    if (output.isEmpty())
        return QString();
    // The suffix is added as the dialog's filter asks for it; the sequence adds the
    // same one.
    const QFileInfo input(QStringLiteral("input.") +
                          (script ? QStringLiteral("package") : inputSuffix));
    return CPublisher::outputPath(output, input);
}

void CPublishFlow::onProgress()
{
    if (m_pPublisher->isRunning() && !m_pProgress->wasCanceled() &&
        m_pProgress->value() + 1 < m_pProgress->maximum())
        m_pProgress->setValue(m_pProgress->value() + 1);
}

void CPublishFlow::progress(qint64 current, qint64 total)
{
    // Setting the value of a modal progress dialog processes events, which may
    // deliver the next report before this one has returned.
    if (m_bSettingValue)
        return;
    m_bSettingValue = true;
    if (total <= 0)
    {
        // An endless busy bar: the tools tell nothing about their progress.
        m_pProgress->setRange(0, 0);
        m_pProgress->setValue(1);
    }
    else if (m_pPublisher->isRunning() && m_pProgress->maximum() > 0)
    {
        if (current == 0 && !m_window.packagerThread()->isRunning())
            m_pProgress->setMaximum(int(qMin<qint64>(total, std::numeric_limits<int>::max())));
        m_pProgress->setValue(
            int(qMin<qint64>(current / m_iProgressScale, m_pProgress->maximum() - 1)));
    }
    m_bSettingValue = false;
}

void CPublishFlow::cancel()
{
    qDebug() << "CPublishFlow::cancel()";
    m_pProgressTimer->stop();
    m_pPublisher->cancel();
    setWaitCursor(false);
}

void CPublishFlow::endProgress()
{
    m_pProgressTimer->stop();
    m_pProgress->reset();
    m_iProgressScale = 1;
    setWaitCursor(false);
}

void CPublishFlow::finished(bool published, const QString& message, const QString& written)
{
    endProgress();
    if (published)
    {
        m_window.showPublished(tr("Tessary successfully generated the installation package."),
                               written);
        return;
    }
    if (m_pPublisher->wasCanceled() || message.isEmpty())
        return;
    // The tools' reason may be the password: it is asked again next time.
    if (!m_pPublisher->problem().isEmpty())
        m_window.signing()->forgetPassword();
    m_window.showWarning(message);
}
