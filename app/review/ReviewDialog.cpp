#include "ReviewDialog.h"

#include "DigestWorker.h"
#include "PropertyLabel.h"
#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/PropertyDefaults.h"
#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"

#include "shared/XmlWidgets/Page.h"
#include <preference/Preference.h>
#include <preference/PreferenceBase.h>

#include <QCheckBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
const wchar_t* const SettingsKey = L"Software\\Ombrel\\Tessary";
const wchar_t* const ReviewBeforePublishValue = L"ReviewBeforePublish";

QPlainTextEdit* readOnlyText(const QString& name, const QString& text, QWidget* parent)
{
    QPlainTextEdit* const view = new QPlainTextEdit(text, parent);
    view->setObjectName(name);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    view->setFont(fixed);
    return view;
}

// The row of the index that links to page, or null.
CIndexLink* linkTo(const CPageIndex* index, const CPage* page)
{
    QStandardItemModel* const model = index->indexModel();
    const QModelIndexList found =
        model->match(model->index(0, 0), CIndexLink::PageNameRole, page->name(), -1,
                     Qt::MatchExactly | Qt::MatchRecursive);
    for (const QModelIndex& row : found)
    {
        CIndexLink* const link = CIndexLink::fromItem(model->itemFromIndex(row));
        if (link && link->page() == page)
            return link;
    }
    return nullptr;
}
} // namespace

CReviewDialog::CReviewDialog(QWidget* parent, const CDocument& document,
                             const QString& exportFolder, bool beforePublish)
    : QDialog(parent), m_document(document), m_sExportFolder(exportFolder)
{
    qDebug() << "CReviewDialog::CReviewDialog() begin";
    setObjectName(QStringLiteral("ReviewDialog"));
    setWindowTitle(tr("Review customizations"));
    m_report = CReviewCollector::collect(document, &m_lRows);

    QVBoxLayout* const layout = new QVBoxLayout(this);
    QLabel* const summary =
        new QLabel(m_report.m_lEntries.isEmpty()
                       ? tr("Every setting has its default value.")
                       : tr("These settings differ from their defaults. Click one to go to it."),
                   this);
    summary->setWordWrap(true);
    layout->addWidget(summary);
    m_pDigest = new QLabel(this);
    m_pDigest->setObjectName(QStringLiteral("installerDigest"));
    m_pDigest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pDigest->setWordWrap(true);
    layout->addWidget(m_pDigest);

    m_pTable = new QTreeWidget(this);
    m_pTable->setObjectName(QStringLiteral("reviewTable"));
    m_pTable->setRootIsDecorated(false);
    m_pTable->setUniformRowHeights(true);
    m_pTable->setHeaderLabels(
        {tr("Page"), tr("Setting"), tr("Property"), tr("Default"), tr("Value")});
    for (const CReviewReport::CEntry& entry : qAsConst(m_report.m_lEntries))
        m_pTable->addTopLevelItem(new QTreeWidgetItem(
            {entry.m_sPage, entry.m_sLabel, entry.m_sProperty, entry.m_sDefault, entry.m_sValue}));
    m_pTable->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(m_pTable, &QTreeWidget::itemClicked, this, &CReviewDialog::showRow);
    connect(m_pTable, &QTreeWidget::itemActivated, this, &CReviewDialog::showRow);

    QTabWidget* const texts = new QTabWidget(this);
    texts->addTab(readOnlyText(QStringLiteral("shellText"), m_report.m_sShellText, texts),
                  tr("Shell properties"));
    texts->addTab(readOnlyText(QStringLiteral("javaScriptText"), m_report.m_sJavaScriptText, texts),
                  tr("JavaScript properties"));
    layout->addWidget(m_pTable, 3);
    layout->addWidget(new QLabel(tr("What publishing writes into the installer (secret values "
                                    "are shown as %1):")
                                     .arg(CReviewCollector::secretPlaceholder()),
                                 this));
    layout->addWidget(texts, 2);

    QDialogButtonBox* const buttons = new QDialogButtonBox(this);
    QPushButton* const html =
        buttons->addButton(tr("Export &HTML..."), QDialogButtonBox::ActionRole);
    html->setObjectName(QStringLiteral("exportHtml"));
    QPushButton* const text =
        buttons->addButton(tr("Export &Text..."), QDialogButtonBox::ActionRole);
    text->setObjectName(QStringLiteral("exportText"));
    m_lExports << html << text;
    connect(html, &QPushButton::clicked, this, &CReviewDialog::exportHtml);
    connect(text, &QPushButton::clicked, this, &CReviewDialog::exportText);
    if (beforePublish)
    {
        m_pDontShowAgain = new QCheckBox(tr("Don't show this review before publishing"), this);
        m_pDontShowAgain->setObjectName(QStringLiteral("dontShowAgain"));
        layout->addWidget(m_pDontShowAgain);
        QPushButton* const go = buttons->addButton(tr("Continue"), QDialogButtonBox::AcceptRole);
        go->setObjectName(QStringLiteral("continue"));
        go->setDefault(true);
        buttons->addButton(QDialogButtonBox::Cancel);
    }
    else
    {
        // The way back after "don't show this review before publishing".
        QCheckBox* const before = new QCheckBox(tr("Show this review before publishing"), this);
        before->setObjectName(QStringLiteral("showBeforePublish"));
        before->setChecked(shownBeforePublish());
        connect(before, &QCheckBox::toggled, this, &CReviewDialog::setShownBeforePublish);
        layout->addWidget(before);
        buttons->addButton(QDialogButtonBox::Close);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 560);

    // The review opens at once, whatever the installer's size.
    const QFileInfo& source = document.sourceFile();
    if (!source.filePath().isEmpty())
    {
        const QString path = source.absoluteFilePath();
        m_report.m_sSourceDigest = CDigestWorker::known(path);
        if (m_report.m_sSourceDigest.isEmpty())
        {
            m_report.m_sSourceDigest = tr("computing…");
            m_pDigestWorker = new CDigestWorker(path, this);
            connect(m_pDigestWorker, &CDigestWorker::computed, this, &CReviewDialog::digestComputed,
                    Qt::QueuedConnection);
            m_pDigestWorker->start(QThread::LowPriority);
        }
    }
    showDigest();
    qDebug() << "CReviewDialog::CReviewDialog() end";
}

CReviewDialog::~CReviewDialog() = default;

void CReviewDialog::digestComputed(const QString& digest)
{
    m_report.m_sSourceDigest =
        digest.isEmpty() ? tr("not available (the installer cannot be read)") : digest;
    m_pDigestWorker = nullptr;
    showDigest();
}

void CReviewDialog::showDigest()
{
    const bool computing = m_pDigestWorker != nullptr;
    m_pDigest->setText(m_report.m_sSourcePath.isEmpty()
                           ? tr("No installer file: the document was not opened from one.")
                           : tr("SHA-256 of the installer: %1").arg(m_report.m_sSourceDigest));
    for (QPushButton* button : qAsConst(m_lExports))
    {
        button->setEnabled(!computing);
        button->setToolTip(computing ? tr("Available once the installer's SHA-256 is computed.")
                                     : QString());
    }
}

void CReviewDialog::showRow(QTreeWidgetItem* item)
{
    const int row = m_pTable->indexOfTopLevelItem(item);
    if (row < 0 || row >= m_lRows.size())
        return;
    const CReviewCollector::CRow& source = m_lRows.at(row);
    // The rows were gathered from the tree this dialog shows; it does not change
    // while the dialog is open.
    CPageIndex* const index = m_document.root().pageIndex();
    if (CIndexLink* const link = linkTo(index, source.m_pPage))
        index->setCurrentItem(link);
    if (QWidget* const field = CPropertyLabel::widgetOf(source.m_pObject))
        field->setFocus(Qt::OtherFocusReason);
}

void CReviewDialog::exportHtml()
{
    exportReport(true);
}

void CReviewDialog::exportText()
{
    exportReport(false);
}

void CReviewDialog::exportReport(bool html)
{
    const QString suffix = html ? QStringLiteral(".html") : QStringLiteral(".txt");
    const QString proposed = QDir(m_sExportFolder).filePath(tr("Customization review") + suffix);
    QString path = QFileDialog::getSaveFileName(
        this, html ? tr("Export HTML report...") : tr("Export text report..."), proposed,
        html ? tr("HTML files (*.html *.htm)") : tr("Text files (*.txt)"), nullptr,
        QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += suffix;
    QString error;
    if (!m_report.write(path, html, &error))
        QMessageBox::warning(this, windowTitle(),
                             tr("Tessary is unable to write to \"%1\": %2")
                                 .arg(QDir::toNativeSeparators(path), error));
}

bool CReviewDialog::shownBeforePublish()
{
    int shown = 1;
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
        store->Read(SettingsKey, ReviewBeforePublishValue, shown, 1);
    return shown != 0;
}

void CReviewDialog::setShownBeforePublish(bool shown)
{
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        store->Write(SettingsKey, ReviewBeforePublishValue, shown ? 1 : 0);
        store->Commit();
    }
}

bool CReviewDialog::reviewBeforePublish(QWidget* parent, const CDocument& document,
                                        const QString& exportFolder)
{
    if (!shownBeforePublish())
        return true;
    CReviewDialog dialog(parent, document, exportFolder, true);
    const bool go = dialog.exec() == QDialog::Accepted;
    // Only a review that was gone through turns itself off.
    if (go && dialog.m_pDontShowAgain->isChecked())
        setShownBeforePublish(false);
    return go;
}
