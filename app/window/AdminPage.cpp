#include "AdminPage.h"
#include "shared/XmlWidgets/OverrideCursor.h"

#include "AboutDialog.h"
#include "OpenFileDialog.h"
#include "PageSearch.h"
#include "SaveCustomizationDialog.h"
#include "WelcomePage.h"
#include "app/document/CustomWidgetFactory.h"
#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/review/ReviewDialog.h"
#include "app/secrets/SecretFields.h"
#include "app/secrets/SecretPromptDialog.h"
#include "app/signing/PublishSigning.h"
#include "app/validation/CheckResults.h"

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"
#include "app/document/Migration.h"
#include "app/document/Publisher.h"

#include "utils/TinyXmlText.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/ExecutableFile.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/PackagerThread.h"
#include "app/packages/XmlPackage.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"
#include <preference/Preference.h>
#include <preference/PreferenceBase.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QXmlStreamReader>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdlib.h>
#include <sys/stat.h>
#include <tinyxml.h>

#ifdef Q_OS_MACOS
#include <CoreFoundation/CoreFoundation.h>
#endif

// Resources of a static library must be registered by name, from the global namespace.
static void initTessaryResources()
{
    Q_INIT_RESOURCE(tessary);
}

namespace
{
const wchar_t* const SettingsKey = L"Software\\Ombrel\\Tessary";
const wchar_t* const LastOpenedDirValue = L"LastOpenedDir";
const int BoldWeight = 75;
// Customization files naming customization files as their installer are followed
// this deep at most; real ones name the installer itself.
const int kMaxCustomizationChain = 16;

bool isAdminConfigPath(const QString& path)
{
    return path.contains(QLatin1String("AdminConfig.xml"));
}

// Files are probed for reading; a bundle package is a directory, which cannot be
// opened as a file but is readable when it can be listed.
bool isReadable(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return info.isReadable() && info.isExecutable();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.close();
    return true;
}

} // namespace

CAdminPage::CAdminPage(const QString& sFile, const QStringList& options,
                       CXmlContainer* parentContainer, QWidget* parent)
    : QMainWindow(parent), CXmlContainer(parentContainer), m_sOpenedPath(sFile), m_lOptions(options)
{
    qDebug().noquote() << "CAdminPage::CAdminPage(" + sFile + ") begin";
    initTessaryResources();

    // Application-wide set-up of the page framework.
    CXmlObject::m_gCurrentXmlVersion = orbilib::utils::CVersion(L"1.8");
    CXmlContainer::m_pStaticValidator = this;
    m_pFactory = new CCustomWidgetFactory(this);
    CXmlContainer::m_pStaticWidgetFactory = m_pFactory;

    createLayout();
    m_pSigning = new CPublishSigning(this);
    statusBar()->addWidget(m_pSigning->statusLabel(), 1);
    new CPageSearch(this);
    createMenus();
    loadStyleSheets();
    setMinimumSize(800, 600);
    setAcceptDrops(true);
    setWindowIcon(QIcon(QStringLiteral(":/res/manager_16x16.png")));
    connect(this, &CAdminPage::openFile, this, qOverload<const QString&>(&CAdminPage::open),
            Qt::QueuedConnection);

    // The file-operation worker and its reports, all delivered on this thread.
    m_pCopyThread = new CCopyFileThread(this);
    connect(m_pCopyThread, &CCopyFileThread::searchResult, this, &CAdminPage::addOpenRecentList,
            Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyFinished, this, &CAdminPage::onProgress,
            Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyDirectoryFinished, this, &CAdminPage::copyFinished,
            Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyFlatPackageFinished, this,
            &CAdminPage::copyFinished, Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyError, this, &CAdminPage::copyError,
            Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyDirectoryError, this, &CAdminPage::copyFailed,
            Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::copyFlatPackageError, this, &CAdminPage::copyFailed,
            Qt::QueuedConnection);
    connect(
        m_pCopyThread, &CCopyFileThread::copyFlatPackageProblem, this,
        [this](const QString& reason) { m_sPublishProblem = reason; }, Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::removeDirectoryError, this,
            &CAdminPage::removeDirError, Qt::QueuedConnection);
    connect(m_pCopyThread, &CCopyFileThread::removeFileError, this, &CAdminPage::removeDirError,
            Qt::QueuedConnection);
    connect(this, &CAdminPage::removeDirectory, m_pCopyThread, &CCopyFileThread::removeDirectory);
    connect(this, &CAdminPage::copyDirectory, m_pCopyThread, &CCopyFileThread::copyDirectory);
    connect(this, &CAdminPage::copyFlatPackage, m_pCopyThread, &CCopyFileThread::copyFlatPackage);
    m_pPackagerThread = new CPackagerThread(this);
    connect(m_pPackagerThread, &CPackagerThread::openFileError, this,
            &CAdminPage::onPackageOpenFileError, Qt::QueuedConnection);
    connect(m_pPackagerThread, &CPackagerThread::fileReadError, this,
            &CAdminPage::onPackageReadFileError, Qt::QueuedConnection);
    connect(m_pPackagerThread, &CPackagerThread::fileWriteError, this,
            &CAdminPage::onPackageWriteFileError, Qt::QueuedConnection);
    connect(m_pPackagerThread, &CPackagerThread::progress, this, &CAdminPage::onPackagerProgress,
            Qt::QueuedConnection);
    connect(m_pPackagerThread, &QThread::finished, this, &CAdminPage::packagerFinished,
            Qt::QueuedConnection);

    connect(m_pPageIndex, &CPageIndex::itemChanged, this, &CAdminPage::pageSelected);
    connect(m_pPageHolder, &CPageHolder::pageAdded, this, &CAdminPage::pageAdded,
            Qt::QueuedConnection);
    connect(m_pPageHolder, &CPageHolder::pageModified, this, &CAdminPage::pageModified);

    // The built-in first page and its row.
    const QString welcomeName = tr("welcome");
    m_pWelcomePage = new CWelcomePage(m_pPageHolder, nullptr);
    m_pWelcomePage->setPageName(welcomeName);
    m_pPageHolder->addPage(m_pWelcomePage);
    CIndexLink* const welcomeLink = new CIndexLink(m_pPageIndex);
    welcomeLink->setPageName(welcomeName);
    m_pPageIndex->indexModel()->invisibleRootItem()->appendRow(welcomeLink);
    QFont bold = welcomeLink->font();
    bold.setWeight(BoldWeight);
    welcomeLink->setFont(bold);
    QTimer::singleShot(0, m_pPageIndex, &CPageIndex::expandAndHideHeader);

    m_pProgress = new QProgressDialog(tr("Extracting files..."), tr("Cancel"), 0, 120, this,
                                      Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    m_pProgress->setWindowFlags(m_pProgress->windowFlags() &
                                ~(Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint));
    m_pProgress->setWindowModality(Qt::WindowModal);
    m_pProgress->setMinimumDuration(0);
    // A minimum duration of 0 would show the idle dialog at once.
    m_pProgress->reset();
    m_pProgress->hide();
    m_pProgressTimer = new QTimer(this);
    connect(m_pProgressTimer, &QTimer::timeout, this, &CAdminPage::onProgress);
    connect(m_pProgress, &QProgressDialog::canceled, this, &CAdminPage::copyCanceled);

    QString error;
    if (initActions(error) != ParseSuccess)
        qWarning().noquote() << "CAdminPage::CAdminPage(): " + error;
    for (QWidget* built : {static_cast<QWidget*>(this), static_cast<QWidget*>(m_pPageHolder),
                           static_cast<QWidget*>(m_pPageIndex)})
        m_lBuiltWidgets.append({built, built->objectName(), built->styleSheet(), built->isEnabled(),
                                built->isHidden()});

    m_pCopyThread->start();
    QTimer::singleShot(0, m_pCopyThread, &CCopyFileThread::loadCache);

    refreshTitle();
    updateDocumentActions(false);
    if (!sFile.isEmpty() && !tryOpen(CCopyFileThread::loadPackage(QFileInfo(sFile)), false, true))
        m_sOpenedPath.clear(); // nothing to go back to after a failed open
    if (!m_pPageIndex->currentIndex().isValid())
        m_pPageIndex->setCurrentIndex(m_pPageIndex->indexModel()->index(0, 0));

    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        std::wstring value;
        store->Read(SettingsKey, LastOpenedDirValue, value, std::wstring());
        m_sLastOpenedDir = QString::fromStdWString(value);
    }

    makeReasonableSize();
    qDebug().noquote() << "CAdminPage::CAdminPage(" + sFile + ") end";
}

CAdminPage::~CAdminPage()
{
    qDebug() << "CAdminPage::~CAdminPage() begin";
    // Saved before the worker stops: a stopped worker writes nothing.
    m_pCopyThread->syncSaveCache(m_lRecentFiles);
    m_pCopyThread->stop();
    m_pCopyThread->wait();
    // A script copy still running is stopped, and its partial output goes.
    if (m_bScriptPublishing)
    {
        m_pPackagerThread->stop();
        m_pPackagerThread->wait();
        QFile::remove(m_sScriptStaging);
    }
    qDeleteAll(m_lTemporaryFiles);
    m_lTemporaryFiles.clear();
    // A bundle still being built when the window goes is not left half-made.
    if (!m_sBundleStaging.isEmpty())
        QDir(m_sBundleStaging).removeRecursively();

    // Take the page tree down while this root is still whole.
    m_bLoading = true;
    for (const QPointer<QWidget>& page : qAsConst(m_lRetiredPages))
        delete page.data();
    m_lRetiredPages.clear();
    delete m_pPageIndex;
    m_pPageIndex = nullptr;
    delete m_pPageHolder;
    m_pPageHolder = nullptr;
    m_pWelcomePage = nullptr;
    delete m_pOwnedPackage;
    m_pOwnedPackage = nullptr;
    m_pCurrentPackage = nullptr;
    if (CXmlContainer::m_pStaticValidator == this)
        CXmlContainer::m_pStaticValidator = nullptr;
    qDebug() << "CAdminPage::~CAdminPage() end";
}

// ---------------------------------------------------------------------------
// Window construction

void CAdminPage::createLayout()
{
    QWidget* const central = new QWidget(this);
    central->setObjectName(QStringLiteral("MainWindow"));
    m_pGridLayout = new QGridLayout(central);
    m_pGridLayout->setContentsMargins(0, 0, 0, 0);
    m_pGridLayout->setSpacing(0);

    QSplitter* const splitter = new QSplitter(Qt::Horizontal, central);
    splitter->setChildrenCollapsible(false);
    m_pPageIndex = new CPageIndex(this, central);
    m_pPageHolder = new CPageHolder(this, central);
    splitter->addWidget(m_pPageIndex);
    splitter->addWidget(m_pPageHolder);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 10);
    m_pGridLayout->addWidget(splitter, 0, 0, 1, 2);
    m_pGridLayout->setRowStretch(0, 55);

    m_pDetailsLabel = new QLabel(tr("Details:"), central);
    m_pDetailsLabel->setObjectName(QStringLiteral("h3"));
    m_pDetailsLabel->setContentsMargins(10, 10, 5, 5);
    m_pGridLayout->addWidget(m_pDetailsLabel, 1, 0, 1, 2);

    m_pDetails = new QTextBrowser(central);
    m_pDetails->setObjectName(QStringLiteral("h3"));
    m_pDetails->setReadOnly(true);
    m_pDetails->setMinimumHeight(50);
    m_pDetails->setStyleSheet(QStringLiteral("margin-left: 10px; margin-right: 10px"));
    m_pGridLayout->addWidget(m_pDetails, 2, 0, 1, 2);
    m_pGridLayout->setRowStretch(2, 10);

    QDialogButtonBox* const buttons = new QDialogButtonBox(central);
    buttons->setContentsMargins(10, 10, 10, 10);
    QPushButton* const openButton = buttons->addButton(tr("Open"), QDialogButtonBox::ActionRole);
    connect(openButton, &QPushButton::clicked, this, qOverload<>(&CAdminPage::open));
    m_pPublishButton =
        buttons->addButton(tr("Publish &customizations..."), QDialogButtonBox::ActionRole);
    m_pPublishButton->setEnabled(false);
    connect(m_pPublishButton, &QPushButton::clicked, this, &CAdminPage::publish);
    m_pGridLayout->addWidget(buttons, 3, 0, 1, 2);

    setCentralWidget(central);
}

void CAdminPage::createMenus()
{
    QMenu* const fileMenu = menuBar()->addMenu(tr("&File"));
    QAction* const openAction = fileMenu->addAction(tr("&Open"));
    openAction->setShortcut(QKeySequence(tr("Ctrl+O")));
    connect(openAction, &QAction::triggered, this, qOverload<>(&CAdminPage::open));

    m_pOpenRecentMenu = fileMenu->addMenu(tr("Open &Recent..."));
    m_pOpenRecentMenu->setEnabled(false);
    connect(m_pOpenRecentMenu, &QMenu::aboutToShow, this, &CAdminPage::addOpenRecentMenu);

    m_pSaveAction = fileMenu->addAction(tr("&Save"));
    m_pSaveAction->setShortcut(QKeySequence(tr("Ctrl+S")));
    m_pSaveAsAction = fileMenu->addAction(tr("Save &As..."));
    m_pImportAction = fileMenu->addAction(tr("I&mport..."));
    connect(m_pSaveAction, &QAction::triggered, this, &CAdminPage::save);
    connect(m_pSaveAsAction, &QAction::triggered, this, &CAdminPage::saveAs);
    connect(m_pImportAction, &QAction::triggered, this, &CAdminPage::import);
    fileMenu->addSeparator();
    QAction* const exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* const publishMenu = menuBar()->addMenu(tr("&Publish"));
    m_pPublishAction = publishMenu->addAction(tr("Publish &customizations..."));
    m_pPublishAction->setShortcut(QKeySequence(tr("Ctrl+E")));
    connect(m_pPublishAction, &QAction::triggered, this, &CAdminPage::publish);
    QAction* const signingAction = publishMenu->addAction(tr("Signing &Identity..."));
    connect(signingAction, &QAction::triggered, m_pSigning, &CPublishSigning::chooseIdentity);
    m_pReviewAction = publishMenu->addAction(tr("&Review customizations..."));
    connect(m_pReviewAction, &QAction::triggered, this, &CAdminPage::review);

    QMenu* const helpMenu = menuBar()->addMenu(tr("&Help"));
    QAction* const aboutAction = helpMenu->addAction(tr("&About Tessary"));
    connect(aboutAction, &QAction::triggered, this, &CAdminPage::about);
}

void CAdminPage::loadStyleSheets()
{
    QByteArray bytes;
    const QStringList sources{QStringLiteral(":/res/style.qss"),
                              QStringLiteral(":/res/style-mac.qss"), QStringLiteral("style.qss")};
    for (int i = 0; i < sources.size(); ++i)
    {
        QFile file(sources.at(i));
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
        if (i + 1 < sources.size())
            bytes += '\n';
    }
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString styleSheet = QString::fromUtf8(bytes);
    qApp->setStyleSheet(styleSheet);
    m_pDetailsLabel->setStyleSheet(styleSheet);
}

void CAdminPage::makeReasonableSize()
{
    QScreen* screen = windowHandle() ? windowHandle()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    if (available.height() <= 1200)
        return;
    const int newWidth = qMin(static_cast<int>(width() * 1.25), available.width() - 50);
    const int newHeight = qMin(static_cast<int>(height() * 1.25), available.height() - 50);
    resize(newWidth, newHeight);
    move((available.width() - 50 - newWidth) / 2, (available.height() - 50 - newHeight) / 2);
}

void CAdminPage::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_bFittedOnFirstShow)
        return;
    m_bFittedOnFirstShow = true;
    // Sizes are known once the window is laid out for its first showing.
    QTimer::singleShot(0, this, &CAdminPage::fitShownPage);
}

void CAdminPage::fitShownPage()
{
    CPage* const page =
        m_pPageHolder ? qobject_cast<CPage*>(m_pPageHolder->currentWidget()) : nullptr;
    QScreen* const screen =
        windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!page || !page->widget() || !screen || isMaximized() || isFullScreen())
        return;
    const QSize wanted = page->widget()->sizeHint();
    const QSize shown = page->viewport()->size();
    const QRect available = screen->availableGeometry();
    // Keep room for the window's frame and the desktop's panels.
    const QSize most(available.width() - 50, available.height() - 50);
    const int newWidth =
        qMax(width(), qMin(width() + wanted.width() - shown.width(), most.width()));
    const int newHeight =
        qMax(height(), qMin(height() + wanted.height() - shown.height(), most.height()));
    if (newWidth == width() && newHeight == height())
        return;
    resize(newWidth, newHeight);
    QRect frame = frameGeometry();
    frame.moveCenter(available.center());
    move(qMax(available.left(), frame.left()), qMax(available.top(), frame.top()));
}

// ---------------------------------------------------------------------------
// Title and messages

QString CAdminPage::configurationDisplayName() const
{
    return m_configurationFile.filePath().isEmpty() ? tr("Untitled")
                                                    : m_configurationFile.fileName();
}

void CAdminPage::refreshTitle()
{
    QString title = tr("Tessary");
    if (!m_sDocumentTitle.isEmpty())
    {
        title += QStringLiteral(": ") + m_sDocumentTitle + QStringLiteral(" - ") +
                 configurationDisplayName();
        if (isChanged())
            title += QStringLiteral(" *");
    }
    setWindowTitle(title);
}

void CAdminPage::showWarning(const QString& text)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    // Messages are plain text, but some name a web address (the out-of-date
    // message): those are shown as rich text with the address as a working link.
    // Only a web address shown as itself becomes a link: a message may quote a
    // definition's text, which must not disguise an address or open a file.
    static const QRegularExpression link(
        QStringLiteral("<a href=\"(https?://[^\"<>\\s]*)\">\\1</a>"));
    if (!text.contains(link))
    {
        QMessageBox box(QMessageBox::Warning, m_sDocumentTitle, text, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return;
    }
    QString html;
    int end = 0;
    QRegularExpressionMatchIterator it = link.globalMatch(text);
    while (it.hasNext())
    {
        const QRegularExpressionMatch match = it.next();
        html += text.mid(end, match.capturedStart() - end).toHtmlEscaped();
        html += QStringLiteral("<a href=\"%1\">%1</a>").arg(match.captured(1).toHtmlEscaped());
        end = match.capturedEnd();
    }
    html += text.mid(end).toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    QMessageBox box(QMessageBox::Warning, m_sDocumentTitle, html, QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    if (QLabel* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setOpenExternalLinks(true);
    box.exec();
}

void CAdminPage::about()
{
    CAboutDialog dialog(this);
    dialog.exec();
}

// ---------------------------------------------------------------------------
// Framework hooks

QWidget* CAdminPage::widget() const
{
    return const_cast<CAdminPage*>(this);
}

int CAdminPage::parse(TiXmlElement* element, QString& error)
{
    const char* version = element ? element->Attribute("version") : nullptr;
    if (!version || !*version)
    {
        error = tr("Root element requires \"version\" attribute");
        return ParseError;
    }
    const int result = CXmlContainer::parse(element, error);
    if (result != ParseSuccess)
        return result;
    const char* icon = element->Attribute("icon");
    if (icon && *icon)
        setWindowIcon(QIcon(QString::fromUtf8(icon)));
    m_sDocumentTitle = translate(element->Attribute("title"));
    refreshTitle();
    return ParseSuccess;
}

int CAdminPage::validateXml(TiXmlElement* element, QString& /*error*/)
{
    if (!element)
        return ParseSuccess;
    int result = ParseSuccess;
    const QString packages = convertAttribute(element->Attribute("package"));
    if (!packages.isEmpty())
    {
        if (!m_sPackageOS.isEmpty())
        {
            // "mac, linux" names both: parts are trimmed before they are compared.
            QStringList parts =
                packages.toLower().split(QRegularExpression(QStringLiteral("\\s*,")));
            bool found = false;
            for (QString& part : parts)
                found = found || (!part.trimmed().isEmpty() && part.trimmed() == m_sPackageOS);
            result = found ? ParseSuccess : ParseSkip;
        }
        else
        {
            result = isSupportedOS(packages) ? ParseSuccess : ParseSkip;
        }
    }
    const QString flag = QString::fromUtf8(element->Attribute("showflag")).toLower();
    if (!flag.isEmpty() && !m_lOptions.contains(flag))
        result = ParseSkip;
    return result;
}

CXmlWidget* CAdminPage::createWidget(const QString& type, QString& error)
{
    if (type == QLatin1String("index"))
        return m_pPageIndex;
    if (type == QLatin1String("pageholder"))
        return m_pPageHolder;
    return CXmlContainer::createWidget(type, error);
}

int CAdminPage::addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* element,
                          QString& error)
{
    if (type == QLatin1String("index") || type == QLatin1String("pageholder"))
        return ParseSuccess;
    return CXmlContainer::addWidget(type, widget, element, error);
}

bool CAdminPage::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("quit"))
    {
        close();
        return true;
    }
    if (slot == QLatin1String("cancelpublish"))
    {
        m_bPublishAllowed = false;
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

int CAdminPage::initSignal(const QString& signal, const CActionItem* action,
                           TiXmlElement* /*element*/, QString& /*error*/)
{
    if (signal == QLatin1String("validate") && action)
        connect(this, &CAdminPage::validatePublish, const_cast<CActionItem*>(action),
                &CActionItem::doAction);
    return ParseSuccess;
}

void CAdminPage::changeNotification(CXmlObject* pChild, CXmlObject* pChangedObject)
{
    if (m_bLoading)
        return;
    CXmlObject::changeNotification(pChild, pChangedObject);
    refreshTitle();
}

void CAdminPage::onMouseOverWidgetImpl(const QString& text)
{
    m_pDetails->setText(text);
}

// ---------------------------------------------------------------------------
// Page index interplay

void CAdminPage::pageSelected(CIndexLink* pCurrent)
{
    if (pCurrent && pCurrent->page())
        m_pPageHolder->setActivePage(pCurrent->page());
}

void CAdminPage::pageAdded(CPage* /*pPage*/) {}

void CAdminPage::pageModified(CPage* pPage)
{
    if (!pPage)
        return;
    const QList<CIndexLink*> links = m_pPageIndex->findItems(pPage->windowTitle());
    for (CIndexLink* link : links)
    {
        // Pages may share a title; the page name tells them apart.
        if (link && link->item()->data(CIndexLink::PageNameRole).toString() == pPage->name())
        {
            link->changed();
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Opening

void CAdminPage::open()
{
    open(QString());
}

void CAdminPage::open(const QString& sPath)
{
    qDebug().noquote() << "CAdminPage::open(" + sPath + ") begin";
    if (!promptToSave(false))
        return;
    QString path = sPath;
    if (path.isEmpty())
    {
        COpenFileDialog dialog(
            this, tr("Open file..."), m_sOpenedPath.isEmpty() ? m_sLastOpenedDir : m_sOpenedPath,
            tr("All Supported Files (*.xml *.mpkg *.pkg *.dmg);;Apple Package (*.dmg *.pkg "
               "*.mpkg);;Configuration Files (*.xml)"));
        dialog.exec();
        path = dialog.chosenPath();
        if (path.isEmpty())
            return;
    }
    if (tryOpen(CCopyFileThread::loadPackage(QFileInfo(path)), false, true))
        m_sOpenedPath = path;
    else if (!m_sOpenedPath.isEmpty())
        tryOpen(CCopyFileThread::loadPackage(QFileInfo(m_sOpenedPath)), false, true);
    qDebug().noquote() << "CAdminPage::open(" + sPath + ") end";
}

void CAdminPage::open(CPackage* pPackage)
{
    if (!promptToSave(false))
    {
        delete pPackage;
        return;
    }
    if (tryOpen(pPackage, false, true))
        m_sOpenedPath = m_sourcePackageFile.absoluteFilePath();
    else if (!m_sOpenedPath.isEmpty())
        tryOpen(CCopyFileThread::loadPackage(QFileInfo(m_sOpenedPath)), false, true);
}

bool CAdminPage::ownsPackage(const CPackage* package) const
{
    for (const CPackage* owned = m_pOwnedPackage; owned; owned = owned->subPackage())
    {
        if (owned == package)
            return true;
    }
    return false;
}

void CAdminPage::adopt(CPackage* package)
{
    if (ownsPackage(package))
        return;
    delete m_pOwnedPackage;
    m_pOwnedPackage = package;
}

void CAdminPage::writeLastOpenedDirectory()
{
    if (boost::shared_ptr<Preference::PreferenceBase> store =
            Preference::Get(Preference::ScopeApplication))
    {
        store->Write(SettingsKey, LastOpenedDirValue, m_sLastOpenedDir.toStdWString());
        store->Commit();
    }
}

void CAdminPage::updateDocumentActions(bool loaded)
{
    const bool enable = loaded && !m_sourcePackageFile.filePath().isEmpty();
    m_pSaveAction->setEnabled(enable);
    m_pSaveAsAction->setEnabled(enable);
    m_pImportAction->setEnabled(enable);
    m_pPublishAction->setEnabled(enable);
    m_pReviewAction->setEnabled(enable);
    m_pPublishButton->setEnabled(enable);
}

bool CAdminPage::tryOpen(CPackage* package, bool loadAsConfiguration, bool rememberInRecent)
{
    const QString path = package ? package->file().absoluteFilePath() : QString();
    qDebug().noquote() << "CAdminPage::tryOpen(" + path + ") begin";
    if (!package)
    {
        showWarning(tr("File doesn't exist, or isn't a valid KORVA installation package."));
        return false;
    }
    const QFileInfo file = package->file();
    if (!isReadable(file.absoluteFilePath()))
    {
        QFileInfo probe(file.absoluteFilePath());
        showWarning(probe.exists() || probe.isSymLink()
                        ? tr("Could not open %1").arg(file.filePath())
                        : tr("Could not open %1: the file does not exist.").arg(file.filePath()));
        removeRecentFile(file.absoluteFilePath());
        if (!ownsPackage(package))
            delete package;
        return false;
    }
    CXmlPackage* const xmlPackage = dynamic_cast<CXmlPackage*>(package);
    if (!package->isValid() && !xmlPackage)
    {
        // What made reading stop (a limit, a file that is not a file) helps the user
        // more than the verdict alone.
        QString text = tr("\"%1\" isn't a valid KORVA installation package.")
                           .arg(QDir::toNativeSeparators(file.filePath()));
        if (!package->problem().isEmpty())
            text +=
                QStringLiteral("\n\n") + tr("Details:") + QStringLiteral("\n") + package->problem();
        showWarning(text);
        if (!ownsPackage(package))
            delete package;
        return false;
    }

    m_configurationFile = QFileInfo();
    m_bConfigurationIsCustomization = false;
    m_lastPublishedFile = QFileInfo();
    m_sPackageOS = package->os();
    // A customization file opens its installer through a nested call.
    const bool wasLoading = m_bLoading;
    m_bLoading = true;
    std::optional<COverrideCursor> waiting(std::in_place, Qt::WaitCursor);

    adopt(package);
    m_pCurrentPackage = package;
    m_sourcePackageFile = file;
    m_sLastOpenedDir = file.absolutePath();
    writeLastOpenedDirectory();

    bool loaded = false;
    if (file.suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0)
        loaded = false;
    else if (package->isValid() || !xmlPackage)
    {
        CPackage* const handedOn = package->isContainer() ? package->subPackage() : package;
        m_sLoadingFile = file.absoluteFilePath();
        loaded = loadCustomizationBytes(package->xml(), false, handedOn);
        if (loaded && xmlPackage)
        {
            m_configurationFile = file;
            m_bConfigurationIsCustomization = true;
        }
    }
    else
    {
        loaded = loadCustomizationFile(file, loadAsConfiguration);
    }

    refreshTitle();
    updateDocumentActions(loaded);
    waiting.reset();
    m_bLoading = wasLoading;
    // The signature shown is that of the installer the document came from.
    if (!wasLoading)
        m_pSigning->documentOpened(
            loaded && CMacFlatPackage::isFlatPackage(m_sourcePackageFile.absoluteFilePath())
                ? m_sourcePackageFile.absoluteFilePath()
                : QString());

    if (loaded && rememberInRecent)
    {
        addRecentFile(file.absoluteFilePath());
        m_bOpenedFromPackage = !file.absoluteFilePath().endsWith(QLatin1String(".xml"));
    }
    m_pOpenRecentMenu->setEnabled(!m_lRecentFiles.isEmpty());
    qDebug().noquote() << "CAdminPage::tryOpen(" + path + ") end";
    return loaded;
}

void CAdminPage::deleteRetiredPages()
{
    if (m_lRetiredPages.isEmpty())
        return;
    if (CActionItem::runningActions() > 0)
    {
        QTimer::singleShot(50, this, &CAdminPage::deleteRetiredPages);
        return;
    }
    const QList<QPointer<QWidget>> pages = m_lRetiredPages;
    m_lRetiredPages.clear();
    for (const QPointer<QWidget>& page : pages)
        delete page.data();
}

void CAdminPage::clearUserInterface()
{
    QStandardItemModel* const model = m_pPageIndex->indexModel();
    if (model->rowCount() > 1)
        model->removeRows(1, model->rowCount() - 1);
    for (int i = m_pPageHolder->count() - 1; i >= 1; --i)
    {
        QWidget* const page = m_pPageHolder->QStackedWidget::widget(i);
        m_pPageHolder->removeWidget(page);
        CPage* const xmlPage = qobject_cast<CPage*>(page);
        if (CActionItem::runningActions() == 0 || !xmlPage)
        {
            delete page;
            continue;
        }
        // An action's dialog is open (the document is being replaced from its event
        // loop): the widget that started the action is still in its handler. The
        // page leaves the document now and goes once every action has returned.
        page->hide();
        xmlPage->detachFromParent();
        page->setParent(nullptr);
        m_lRetiredPages.append(page);
    }
    if (!m_lRetiredPages.isEmpty())
        QTimer::singleShot(0, this, &CAdminPage::deleteRetiredPages);
    // The window, the holder and the index outlive the document: what its definition
    // put on them (actions, attributes, a layout, a linked page) goes with it.
    discardDefinition();
    m_pPageHolder->discardDefinition();
    m_pPageIndex->discardDefinition();
    for (const CBuiltWidget& built : qAsConst(m_lBuiltWidgets))
    {
        built.widget->setObjectName(built.objectName);
        built.widget->setStyleSheet(built.styleSheet);
        built.widget->setEnabled(built.enabled);
        if (built.widget != this)
            built.widget->setHidden(built.hidden);
    }
    m_pPageHolder->setWindowIcon(QIcon());
    setWindowIcon(QIcon(QStringLiteral(":/res/manager_16x16.png")));
    // Without a document the welcome row is the one highlighted.
    if (!m_pPageIndex->currentIndex().isValid())
        m_pPageIndex->setCurrentIndex(model->index(0, 0));
}

bool CAdminPage::loadPageDefinition(const QByteArray& bytes)
{
    qDebug() << "CAdminPage::loadPageDefinition() begin";
    TiXmlDocument document;
    QString error;
    int result = CXmlDefinitionReader::read(bytes, document, error);
    clearUserInterface();
    bool loaded = false;
    if (result == ParseSuccess)
    {
        try
        {
            result = parse(document.RootElement(), error);
            if (result == ParseSuccess)
                result = init(error);
            loaded = result == ParseSuccess && !loadedXmlDeprecated();
        }
        catch (const CustomWidgetObsoleteException& exception)
        {
            error = exception.message();
            loaded = false;
        }
    }

    if (loaded)
    {
        // The pages' fields would take a dropped installer, and Ctrl+E, for themselves.
        const QList<QWidget*> fields = m_pPageHolder->findChildren<QWidget*>();
        for (QWidget* field : fields)
            field->installEventFilter(this);
        m_secrets.reset();
        CSecretFields::protect(this);
        m_defaults.capture(collectProperties(false));
        CCheckResults::clear();
        resetChanged(true);
        QStandardItemModel* const model = m_pPageIndex->indexModel();
        if (model->rowCount() > 1)
            m_pPageIndex->setCurrentIndex(model->index(1, 0));
        qDebug() << "CAdminPage::loadPageDefinition() end";
        return true;
    }

    const QString text = loadedXmlDeprecated()
                             ? loadedXmlDeprecated()->message()
                             : tr("Failed to parse XML content.") + QStringLiteral("\n\n") +
                                   tr("Details:") + QStringLiteral("\n") + error;
    // Nothing of the refused definition stays, not even behind its message: no
    // pages or rows, no title, no deprecation record.
    clearUserInterface();
    m_sDocumentTitle.clear();
    setLoadedXmlDeprecated(nullptr);
    refreshTitle();
    // The message is shown with the arrow; the caller's cursor comes back after it.
    showWarning(text);
    qDebug() << "CAdminPage::loadPageDefinition() end";
    return false;
}

bool CAdminPage::loadCustomizationFile(const QFileInfo& file, bool importMode)
{
    const QFileInfo current(file.absoluteFilePath());
    if (!current.exists() || !current.isFile())
    {
        showWarning(tr("This file is not a valid configuration file."));
        return false;
    }
    QFile input(current.absoluteFilePath());
    if (!input.open(QIODevice::ReadOnly))
    {
        showWarning(tr("Tessary is unable to open \"%1\".  Verify that the file exists and that "
                       "is has read permissions, and then try again.")
                        .arg(QDir::toNativeSeparators(current.absoluteFilePath())));
        return false;
    }
    const QByteArray bytes = input.readAll();
    m_sLoadingFile = current.absoluteFilePath();
    const bool loaded = loadCustomizationBytes(bytes, importMode, nullptr);
    if (loaded && !importMode)
    {
        m_configurationFile = current;
        m_bConfigurationIsCustomization = CCustomizationFile::isCustomization(bytes);
    }
    return loaded;
}

bool CAdminPage::loadCustomizationBytes(const QByteArray& bytes, bool importMode, CPackage* package)
{
    // The file these bytes were read from, for messages.
    const QString origin = m_sLoadingFile;
    TiXmlDocument document;
    QString error;
    CXmlDefinitionReader::read(bytes, document, error);
    TiXmlElement* root = document.RootElement();
    if (!root)
    {
        showWarning(tr("This file is not a valid configuration file."));
        return false;
    }
    if (QString::fromUtf8(root->Value()) != QLatin1String("AdminCustomization"))
    {
        if (importMode)
        {
            showWarning(tr("This file is not a valid configuration file."));
            return false;
        }
        return loadPageDefinition(bytes);
    }
    CCustomizationFile::CContents contents;
    CCustomizationFile::read(bytes, contents, error);

    if (!importMode)
    {
        CPackage* source = package;
        if (!source)
            source = CCopyFileThread::loadPackage(QFileInfo(contents.m_sSource));
        // A customization whose installer leads back to it (itself, a.xml -> b.xml ->
        // a.xml, or an installer whose definition was replaced by a customization)
        // would be followed without end; so would a very long chain.
        const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        bool cycle = false;
        for (const QPair<QByteArray, QString>& step : qAsConst(m_lCustomizationChain))
            cycle = cycle || step.first == digest;
        if (cycle || m_lCustomizationChain.size() >= kMaxCustomizationChain)
        {
            QStringList files;
            for (const QPair<QByteArray, QString>& step : qAsConst(m_lCustomizationChain))
                files << QDir::toNativeSeparators(step.second);
            files << QDir::toNativeSeparators(origin);
            if (source)
                files << QDir::toNativeSeparators(source->file().absoluteFilePath());
            const QString first = files.first();
            files.removeDuplicates();
            const QString chain = files.join(QStringLiteral("\n"));
            showWarning(cycle ? tr("Tessary is unable to open \"%1\". Its configuration files name "
                                   "each other as their installer package, so no installer is "
                                   "ever reached:\n%2")
                                    .arg(QDir::toNativeSeparators(first), chain)
                              : tr("Tessary is unable to open \"%1\". It leads through more than "
                                   "%2 configuration files before reaching an installer "
                                   "package:\n%3")
                                    .arg(QDir::toNativeSeparators(first))
                                    .arg(kMaxCustomizationChain)
                                    .arg(chain));
            if (!package && source && !ownsPackage(source))
                delete source;
            return false;
        }
        m_lCustomizationChain.append(qMakePair(digest, origin));
        const bool opened = tryOpen(source, true, false);
        m_lCustomizationChain.removeLast();
        if (!opened)
            return false;
        m_lastPublishedFile =
            contents.m_sLastSaveFile.isEmpty() ? QFileInfo() : QFileInfo(contents.m_sLastSaveFile);
    }

    for (const CCustomizationFile::CEntry& entry : qAsConst(contents.m_lEntries))
    {
        if (entry.m_bOmitted)
            continue;
        const QList<CXmlObject*> objects = findNamedObjects(entry.m_sWidget);
        for (CXmlObject* object : objects)
        {
            if (object->property() == entry.m_sProperty)
                object->setValue(entry.m_sValue);
        }
    }
    // Only the administrator's own file decides whether secrets go on being stored.
    m_secrets.noteLoaded(contents.m_lEntries, this,
                         !importMode &&
                             origin.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive));
    resetChanged(false);
    refreshTitle();
    return true;
}

// ---------------------------------------------------------------------------
// Saving (used by the save-changes prompt)

QMultiMap<QString, CXmlObject*> CAdminPage::collectProperties(bool onlySet) const
{
    QMultiMap<QString, CXmlObject*> properties;
    std::function<void(const CXmlObject*)> visit = [&](const CXmlObject* object)
    {
        if (!object->property().isEmpty() && !object->name().isEmpty() &&
            (!onlySet || !object->getValue().isEmpty() || object->allowEmpty()))
            properties.insert(object->property(), const_cast<CXmlObject*>(object));
        for (const CXmlObject* child : object->childObjects())
            visit(child);
    };
    visit(this);
    return properties;
}

QList<CCustomizationFile::CEntry>
CAdminPage::entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets)
{
    QList<CCustomizationFile::CEntry> entries;
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        if (CSecretKeeper::omitOnSave(it.value(), withSecrets))
            entries.append({it.key(), it.value()->name(), QString(), true});
        else
            entries.append({it.key(), it.value()->name(), it.value()->getValue()});
    }
    return entries;
}

bool CAdminPage::saveXMLToFile(const QByteArray& fileName,
                               const QMultiMap<QString, CXmlObject*>& properties,
                               bool withSecrets) const
{
    QList<CCustomizationFile::CEntry> entries = entriesOf(properties, withSecrets);
    // A secret the file was saved without that is still missing keeps its mark, so
    // that publishing goes on asking for it.
    const QList<CXmlObject*> missing = m_secrets.missing(this);
    for (CCustomizationFile::CEntry& entry : entries)
    {
        for (const CXmlObject* object : missing)
            entry.m_bOmitted = entry.m_bOmitted || (entry.m_sWidget == object->name() &&
                                                    entry.m_sProperty == object->property());
    }
    return CCustomizationFile::write(QString::fromUtf8(fileName), m_sourcePackageFile,
                                     m_lastPublishedFile, entries);
}

bool CAdminPage::trySave(const QFileInfo& file)
{
    const QString path = QDir::toNativeSeparators(file.filePath());
    std::optional<COverrideCursor> waiting(std::in_place, Qt::WaitCursor);
    const bool saved =
        saveXMLToFile(path.toUtf8(), collectProperties(false), m_secrets.storeSecrets());
    waiting.reset();
    if (!saved)
        showWarning(tr("Tessary is unable to save \"%1\".  Close the file if it's open, verify "
                       "that the disk isn't full, remove write-protection on the file, and then "
                       "try again.")
                        .arg(path));
    return saved;
}

bool CAdminPage::trySaveAs()
{
    if (m_sourcePackageFile.suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0)
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        QMessageBox::information(
            this, m_sDocumentTitle,
            tr("Note: A saved configuration file can only be re-opened by Tessary. You must "
               "choose 'Publish' to generate a file to be used with %1.")
                .arg(m_sourcePackageFile.fileName()));
    }
    if (isAdminConfigPath(m_sourcePackageFile.filePath()))
    {
        showWarning(tr("The AdminConfig.xml can not be saved or published. It is only used for "
                       "testing purposes."));
        return false;
    }
    const QString directory = m_configurationFile.filePath().isEmpty()
                                  ? m_sLastOpenedDir
                                  : m_configurationFile.absolutePath();
    // A page definition's own name is not offered: saving there would replace it.
    QString proposed = QDir(directory).filePath(
        m_bConfigurationIsCustomization ? configurationDisplayName() : tr("Untitled"));
    if (!proposed.contains(QLatin1Char('.')))
        proposed += QStringLiteral(".xml");
    CSaveCustomizationDialog dialog(this, tr("Save file..."), proposed,
                                    tr("Configuration Files (*.xml)"), m_secrets.storeSecrets());
    dialog.exec();
    QString chosen = dialog.chosenPath();
    if (chosen.isEmpty())
        return false;
    m_secrets.setStoreSecrets(dialog.storeSecrets());
    if (!chosen.endsWith(QLatin1String(".xml")))
        chosen += QStringLiteral(".xml");
    m_configurationFile = QFileInfo(chosen);
    m_bConfigurationIsCustomization = true;
    const bool saved = trySave(m_configurationFile);
    if (saved)
    {
        resetChanged(false);
        addRecentFile(m_configurationFile.absoluteFilePath());
        m_sOpenedPath = chosen;
    }
    return saved;
}

bool CAdminPage::hasSaveTarget() const
{
    return !m_configurationFile.filePath().isEmpty() && m_bConfigurationIsCustomization;
}

bool CAdminPage::promptToSave(bool closing, bool importing)
{
    // Definitions opened directly are for testing and never saved.
    if (!importing && isAdminConfigPath(m_sourcePackageFile.filePath()))
        resetChanged(false);
    if (!isChanged())
        return true;
    QMessageBox::StandardButton answer;
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        answer = QMessageBox::question(
            this, m_sDocumentTitle,
            tr("Do you want to save your changes to %1?").arg(configurationDisplayName()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    }
    if (answer == QMessageBox::Yes)
    {
        const bool saved = hasSaveTarget() ? trySave(m_configurationFile) : trySaveAs();
        if (!saved)
            return false;
        addRecentFile(m_configurationFile.absoluteFilePath());
    }
    else if (answer != QMessageBox::No)
    {
        return false;
    }
    if (!closing)
    {
        resetChanged(false);
        refreshTitle();
    }
    return true;
}

// ---------------------------------------------------------------------------
// Save, Save As, Import

void CAdminPage::save()
{
    qDebug() << "CAdminPage::save() begin";
    if (hasSaveTarget() && !m_bOpenedFromPackage)
    {
        if (trySave(m_configurationFile))
            resetChanged(false);
    }
    else
    {
        saveAs();
    }
    refreshTitle();
    qDebug() << "CAdminPage::save() end";
}

void CAdminPage::saveAs()
{
    qDebug() << "CAdminPage::saveAs() begin";
    if (trySaveAs())
    {
        resetChanged(false);
        m_bOpenedFromPackage = false;
    }
    refreshTitle();
    qDebug() << "CAdminPage::saveAs() end";
}

void CAdminPage::import()
{
    qDebug() << "CAdminPage::import() begin";
    if (!promptToSave(false, true))
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Import configuration file..."), m_sLastOpenedDir,
        tr("Configuration Files (*.xml)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty())
        return;
    if (loadCustomizationFile(QFileInfo(path), true))
        showMigrationReport(path);
    qDebug() << "CAdminPage::import() end";
}

void CAdminPage::showMigrationReport(const QString& path)
{
    if (!m_pCurrentPackage)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // A customization is small; anything beyond the package model's limit is no report's.
    const QByteArray bytes = file.read(8 * 1024 * 1024);
    CCustomizationFile::CContents contents;
    QString error;
    const QString current = QString::fromStdWString(m_pCurrentPackage->version().toString());
    if (!CCustomizationFile::read(bytes, contents, error) || contents.m_sProductVersion.isEmpty() ||
        contents.m_sProductVersion == current)
        return;
    CDocument target(m_sPackageOS, m_lOptions);
    if (!target.load(m_pCurrentPackage->xml(), error))
        return;
    CDocument previous(m_sPackageOS, m_lOptions);
    const std::unique_ptr<CPackage> source(
        contents.m_sSource.isEmpty() ? nullptr
                                     : CCopyFileThread::loadPackage(QFileInfo(contents.m_sSource)));
    const bool known = source && source->isValid() && !dynamic_cast<CXmlPackage*>(source.get()) &&
                       previous.load(source->xml(), error);
    QStringList lines;
    for (const CMigration::CItem& item :
         CMigration::migrate(contents, known ? &previous : nullptr, target))
    {
        if (item.m_status != CMigration::Kept)
            lines << CMigration::describe(item);
    }
    const int shown = 30;
    if (lines.size() > shown)
    {
        const int more = lines.size() - shown;
        lines = lines.mid(0, shown);
        lines << tr("... and %n more.", nullptr, more);
    }
    QString text = tr("This configuration file was made for version %1 of the installer; this "
                      "installer is version %2.")
                       .arg(contents.m_sProductVersion, current);
    text += QStringLiteral("\n\n") + (lines.isEmpty() ? tr("Every value was taken over unchanged.")
                                                      : lines.join(QLatin1Char('\n')));
    showInformation(text);
}

// ---------------------------------------------------------------------------
// Publishing

CPropertyText::Properties CAdminPage::publishedProperties() const
{
    return CPublisher::publishedProperties(entriesOf(collectProperties(true)));
}

QString CAdminPage::generateProperties(GenerateStyle style) const
{
    switch (style)
    {
    case ShellStyle:
        return CPropertyText::shellText(publishedProperties());
    case JavaScriptStyle:
        return CPropertyText::javaScriptText(publishedProperties());
    }
    return QString();
}

void CAdminPage::setWaitCursor(bool wait)
{
    // Publishing waits across several slots, so its cursor is held by the window.
    if (!wait)
        m_waitCursor.reset();
    else if (!m_waitCursor)
        m_waitCursor.emplace(Qt::WaitCursor);
}

void CAdminPage::showInformation(const QString& text)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    QMessageBox::information(this, m_sDocumentTitle, text, QMessageBox::Ok);
}

QString CAdminPage::unableToDeleteText(const QString& path) const
{
    return tr("Tessary is unable to delete \"%1\".  Close the file if it's open, verify that the "
              "disk isn't full, remove write-protection on the file, and then try again.")
        .arg(QDir::toNativeSeparators(path));
}

void CAdminPage::publish()
{
    qDebug() << "CAdminPage::publish() begin";
    m_bPublishAllowed = true;
    // The progress dialog is modal, but a shortcut may still arrive while it closes.
    if (m_bPublishing || m_bScriptPublishing || m_pPackagerThread->isRunning())
        return;
    if (isAdminConfigPath(m_sourcePackageFile.filePath()))
    {
        showWarning(tr("The AdminConfig.xml can not be saved or published. It is only used for "
                       "testing purposes."));
        return;
    }
    if (!CReviewDialog::reviewBeforePublish(this, m_defaults))
        return;
    emit validatePublish();
    if (!m_bPublishAllowed)
        return;
    // A customization saved without its secrets gets them back: installers need them.
    if (!CSecretPromptDialog::askFor(m_secrets.missing(this), m_sDocumentTitle, this))
        return;
    const QString suffix = m_sourcePackageFile.suffix().toLower();
    const bool mac = suffix == QLatin1String("pkg") || suffix == QLatin1String("mpkg") ||
                     suffix == QLatin1String("dmg");
    const bool script = suffix == QLatin1String("package");
    if (!mac && !script)
        return;
    // The installers export every value as a shell variable: a name the shell cannot
    // take would be run as a command on every computer.
    const QStringList invalid = CPropertyText::invalidShellNames(publishedProperties());
    if (!invalid.isEmpty())
    {
        showWarning(tr("Tessary cannot publish the property \"%1\": its name is not a valid "
                       "shell variable name. A name may hold only letters, digits and \"_\" and "
                       "must not begin with a digit. Correct the installer's page definition, "
                       "and then try again.")
                        .arg(invalid.join(QStringLiteral("\", \""))));
        return;
    }
    if (mac)
        publishMacPackage();
    else
        publishScriptPackage();
    qDebug() << "CAdminPage::publish() end";
}

void CAdminPage::publishMacPackage()
{
    QFileInfo input = m_sourcePackageFile;
    CDmgPackage* const image = dynamic_cast<CDmgPackage*>(m_pCurrentPackage);
    const bool fromImage =
        m_sourcePackageFile.suffix().compare(QLatin1String("dmg"), Qt::CaseInsensitive) == 0;
    if (fromImage)
    {
        if (!image || !image->mount() || !image->subPackage())
        {
            if (image)
                image->unmount();
            showWarning(tr("Tessary is unable to extract files from \"%1\".  Verify that the disk "
                           "isn't full, that the file exists, and that it has read permissions, "
                           "and then try again.")
                            .arg(QDir::toNativeSeparators(m_sourcePackageFile.absoluteFilePath())));
            return;
        }
        input = image->subPackage()->file();
    }
    // An image mounted for a publish that does not happen is let go again.
    auto giveUp = [&]()
    {
        if (image && fromImage)
            image->unmount();
    };

    QString proposed = m_lastPublishedFile.filePath();
    if (proposed.isEmpty())
        proposed = QDir(m_sLastOpenedDir).filePath(tr("Untitled"));
    if (QFileInfo(proposed).suffix().isEmpty())
        proposed += QLatin1Char('.') + input.suffix();
    const bool pkg = input.suffix().compare(QLatin1String("pkg"), Qt::CaseInsensitive) == 0;
    const QString extension = pkg ? QStringLiteral(".pkg") : QStringLiteral(".mpkg");
    QString output = QFileDialog::getSaveFileName(
        this, tr("Save file..."), proposed, pkg ? tr("Package (*.pkg)") : tr("Package (*.mpkg)"),
        nullptr, QFileDialog::DontUseNativeDialog);
    if (output.isEmpty())
    {
        giveUp();
        return;
    }
    if (!output.endsWith(extension))
        output += extension;
    if (samePath(output, input.absoluteFilePath()))
    {
        giveUp();
        showWarning(unableToDeleteText(input.absoluteFilePath()));
        return;
    }

    const bool flat = CMacFlatPackage::isFlatPackage(input.absoluteFilePath());
    // Only a flat package carries a signature of its own.
    if (flat)
    {
        CMacFlatPackage::Signing signing;
        if (!m_pSigning->prepare(signing))
        {
            giveUp();
            return;
        }
        m_pCopyThread->setSigning(signing);
    }
    setWaitCursor(true);
    m_sPublishProblem.clear();
    // A bundle is built in a directory of its own beside the output and moved over it
    // once complete: a failed or canceled copy leaves the previous output as it was.
    QString staged;
    if (!flat)
    {
        const QString parent = QFileInfo(output).absolutePath();
        QByteArray staging = QFile::encodeName(parent + QStringLiteral("/.Tessary-XXXXXX"));
        if (!QDir().mkpath(parent) || !::mkdtemp(staging.data()))
        {
            qDebug() << "CAdminPage::publishMacPackage(): cannot create a directory beside"
                     << output << qt_error_string(errno);
            setWaitCursor(false);
            giveUp();
            showWarning(unableToWriteText(QFileInfo(output).absoluteFilePath()));
            return;
        }
        m_sBundleStaging = QFile::decodeName(staging);
        m_sBundleOutput = QFileInfo(output).absoluteFilePath();
        staged = m_sBundleStaging + QLatin1Char('/') + QFileInfo(output).fileName();
    }
    m_lastPublishedFile = QFileInfo(output);
    const QStringList ignoreList =
        CPublisher::ignoreList(flat, input.absoluteFilePath(), entriesOf(collectProperties(true)));
    if (flat && QFileInfo(output).isDir())
        emit removeDirectory(output);

    m_bPublishing = true;
    m_pPublishImage = fromImage ? image : nullptr;
    m_pProgress->setLabelText(tr("Creating new package..."));
    m_pProgressTimer->start(1000);
    m_pProgress->setRange(0, 120);
    m_pProgress->setValue(0);
    if (flat)
    {
        // An endless busy bar: the tools tell nothing about their progress.
        m_pProgress->setRange(0, 0);
        m_pProgress->setMinimumDuration(0);
        m_pProgress->setValue(1);

        QString valuesFile;
        QTemporaryFile* const temporary = new QTemporaryFile(
            QDir::tempPath() + QStringLiteral("/Tessary-values-XXXXXX.xml"), this);
        m_lTemporaryFiles.append(temporary);
        m_pValuesFile = temporary;
        if (temporary->open())
        {
            temporary->close();
            if (saveXMLToFile(temporary->fileName().toUtf8(), collectProperties(false)))
                valuesFile = temporary->fileName();
        }
        emit copyFlatPackage(input.absoluteFilePath(), output, generateProperties(ShellStyle),
                             ignoreList, generateProperties(JavaScriptStyle), valuesFile);
    }
    else
    {
        m_pProgress->setMaximum(m_pCopyThread->getFileCount(input, ignoreList));
        emit copyDirectory(input.absoluteFilePath(), staged, ignoreList);
    }
}

bool CAdminPage::samePath(const QString& first, const QString& second)
{
    const QFileInfo a(first);
    const QFileInfo b(second);
    if (a.absoluteFilePath() == b.absoluteFilePath())
        return true;
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

void CAdminPage::publishScriptPackage()
{
    const QString proposed = m_lastPublishedFile.filePath().isEmpty()
                                 ? m_sLastOpenedDir
                                 : m_lastPublishedFile.filePath();
    QString output =
        QFileDialog::getSaveFileName(this, tr("Save file..."), proposed, tr("Package (*.package)"),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    if (output.isEmpty())
        return;
    if (QFileInfo(output).suffix() != QLatin1String("package"))
        output += QStringLiteral(".package");
    if (samePath(output, m_sourcePackageFile.absoluteFilePath()))
    {
        showWarning(unableToDeleteText(m_sourcePackageFile.absoluteFilePath()));
        return;
    }

    setWaitCursor(true);
    m_lastPublishedFile = QFileInfo(output);
    const qint64 size = m_sourcePackageFile.size();
    // The dialog counts in int; very large installers are counted in coarser steps.
    m_iProgressScale = size / std::numeric_limits<int>::max() + 1;
    m_pProgress->setLabelText(tr("Creating new package..."));
    m_pProgress->setRange(0, int(size / m_iProgressScale));
    m_pProgress->setValue(0);

    // The copy is written beside the output and moved over it once complete, so a
    // failed or canceled copy leaves neither a partial installer nor a lost old one.
    QTemporaryFile staging(output + QStringLiteral(".XXXXXX"));
    staging.setAutoRemove(false);
    if (!staging.open())
    {
        qDebug() << "CAdminPage::publishScriptPackage(): cannot create" << staging.fileTemplate()
                 << staging.errorString();
        m_pProgress->reset();
        setWaitCursor(false);
        showWarning(tr("Cannot write to file \"%1\".  Close the file if it's open, verify that "
                       "the disk isn't full, remove write-protection on the file, and then try "
                       "again.")
                        .arg(QDir::toNativeSeparators(QFileInfo(output).absoluteFilePath())));
        return;
    }
    staging.close();
    m_sScriptStaging = staging.fileName();
    m_sScriptOutput = QFileInfo(output).absoluteFilePath();
    m_bScriptPublishing = true;
    m_bScriptFailed = false;
    m_bScriptComplete = false;

    m_pPackagerThread->clearProperties();
    for (const QPair<QString, QString>& property : publishedProperties())
        m_pPackagerThread->addProperty(property.first, property.second);
    m_pPackagerThread->addProperty(QStringLiteral("TS_MODIFICATION"), QStringLiteral("1"));
    m_pPackagerThread->writePackage(m_sourcePackageFile.absoluteFilePath(), m_sScriptStaging);
}

void CAdminPage::review()
{
    qDebug() << "CAdminPage::review() begin";
    CReviewDialog dialog(this, m_defaults, false);
    dialog.exec();
    qDebug() << "CAdminPage::review() end";
}

void CAdminPage::onProgress()
{
    if (m_bPublishing && !m_pProgress->wasCanceled() &&
        m_pProgress->value() + 1 < m_pProgress->maximum())
        m_pProgress->setValue(m_pProgress->value() + 1);
}

void CAdminPage::discardValuesFile()
{
    // The worker moves the file into the package; one left behind holds the
    // administrator's values and goes as soon as the publish ends.
    if (!m_pValuesFile)
        return;
    m_lTemporaryFiles.removeAll(m_pValuesFile);
    delete m_pValuesFile;
    m_pValuesFile = nullptr;
}

void CAdminPage::endPublish()
{
    m_bPublishing = false;
    discardValuesFile();
    m_pProgressTimer->stop();
    m_pProgress->reset();
    setWaitCursor(false);
}

void CAdminPage::copyFinished(const QFileInfo& src, const QFileInfo& dst)
{
    qDebug().noquote() << "CAdminPage::copyFinished(" + src.absoluteFilePath() + ") begin";
    // A report that arrives after a cancel or an error belongs to no publish.
    if (!m_bPublishing)
        return;
    bool flat = false;
    if (m_pPublishImage)
    {
        flat = m_pPublishImage->subPackage() &&
               CMacFlatPackage::isFlatPackage(
                   m_pPublishImage->subPackage()->file().absoluteFilePath());
        m_pPublishImage->unmount();
        m_pPublishImage = nullptr;
    }
    else
    {
        flat = CMacFlatPackage::isFlatPackage(m_sourcePackageFile.absoluteFilePath());
    }
    m_pProgressTimer->stop();
    bool written = flat;
    if (!flat)
    {
        written = writeBundleFiles(QDir(dst.absoluteFilePath()), generateProperties(ShellStyle)) &&
                  moveBundleIntoPlace(dst.absoluteFilePath());
        discardBundleStaging();
    }
    endPublish();
    if (written)
        showInformation(tr("Tessary successfully generated the installation package."));
    qDebug().noquote() << "CAdminPage::copyFinished(" + src.absoluteFilePath() + ") end";
}

bool CAdminPage::writeBundleFiles(const QDir& bundle, const QString& properties)
{
    QString failed;
    switch (CPublisher::writeBundleFiles(bundle, properties, &failed))
    {
    case CPublisher::BundleDirectoryFailed:
        showWarning(tr("Tessary is unable to create the directory \"%1\".  Verify that the disk "
                       "isn't full, remove write-protection at this location, and then try "
                       "again.")
                        .arg(QDir::toNativeSeparators(publishedPath(failed))));
        return false;
    case CPublisher::BundleFileFailed:
        showWarning(tr("Tessary is unable to write to \"%1\".  Verify that the disk isn't "
                       "full, remove write-protection on this file, and then try again.")
                        .arg(QDir::toNativeSeparators(publishedPath(failed))));
        return false;
    case CPublisher::BundleWritten:
        break;
    }
    return true;
}

QString CAdminPage::unableToWriteText(const QString& path) const
{
    return tr("Tessary is unable to write to \"%1\".  Close the file if it's open, verify that "
              "the disk isn't full, remove write-protection on the file, and then try again.")
        .arg(QDir::toNativeSeparators(path));
}

QString CAdminPage::publishedPath(const QString& path) const
{
    // Files of a bundle being built are named as they will be in the output.
    if (!m_sBundleStaging.isEmpty())
    {
        const QString staged =
            m_sBundleStaging + QLatin1Char('/') + QFileInfo(m_sBundleOutput).fileName();
        if (path == staged || path.startsWith(staged + QLatin1Char('/')))
            return m_sBundleOutput + path.mid(staged.size());
    }
    return path;
}

bool CAdminPage::moveBundleIntoPlace(const QString& staged)
{
    // The previous output is moved into the staging directory, which goes as a
    // whole afterwards; should the new one fail to move in, the old one comes back.
    switch (CPublisher::replaceOutput(staged, m_sBundleOutput,
                                      m_sBundleStaging + QStringLiteral("/.previous-output")))
    {
    case CPublisher::OldOutputKept:
        showWarning(unableToDeleteText(m_sBundleOutput));
        return false;
    case CPublisher::NewOutputFailed:
        showWarning(unableToWriteText(m_sBundleOutput));
        return false;
    case CPublisher::Replaced:
        break;
    }
    return true;
}

void CAdminPage::discardBundleStaging()
{
    if (m_sBundleStaging.isEmpty())
        return;
    // The worker removes it after whatever copy it is still ending.
    emit removeDirectory(m_sBundleStaging);
    m_sBundleStaging.clear();
    m_sBundleOutput.clear();
}

void CAdminPage::copyError(const QFileInfo& src, const QFileInfo& dst)
{
    qDebug().noquote() << "CAdminPage::copyError(" + src.absoluteFilePath() + ")";
    if (!m_bPublishing)
        return;
    const QString shown = publishedPath(dst.absoluteFilePath());
    copyCanceled();
    endPublish();
    QString text = unableToWriteText(shown);
    if (!m_sPublishProblem.isEmpty())
    {
        text += QStringLiteral("\n\n") + tr("Details:") + QStringLiteral("\n") + m_sPublishProblem;
        // The tool's reason may be the password: it is asked again next time.
        m_pSigning->forgetPassword();
        m_sPublishProblem.clear();
    }
    showWarning(text);
}

void CAdminPage::copyFailed(const QFileInfo& src, const QFileInfo& dst)
{
    // A whole copy failed (the tools, a directory, the destination) without a
    // report of its own: the administrator learns of it the same way.
    copyError(src, dst);
}

void CAdminPage::removeDirError(const QFileInfo& file)
{
    qDebug().noquote() << "CAdminPage::removeDirError(" + file.absoluteFilePath() + ")";
    if (!m_bPublishing)
        return;
    const QString shown = publishedPath(file.absoluteFilePath());
    copyCanceled();
    endPublish();
    showWarning(unableToDeleteText(shown));
}

void CAdminPage::copyCanceled()
{
    qDebug() << "CAdminPage::copyCanceled()";
    m_pProgressTimer->stop();
    if (m_bPublishing)
        m_pCopyThread->cancel();
    m_bPublishing = false;
    discardValuesFile();
    discardBundleStaging();
    if (m_bScriptPublishing)
    {
        m_bScriptFailed = true;
        m_pPackagerThread->stop();
    }
    setWaitCursor(false);
    if (m_pPublishImage)
    {
        m_pPublishImage->unmount();
        m_pPublishImage = nullptr;
    }
}

void CAdminPage::onPackagerProgress(qint64 iCurrent, qint64 iTotal)
{
    if (!m_bScriptPublishing || m_bScriptFailed)
        return;
    // Setting the value of a modal progress dialog processes events, which may
    // deliver the next report before this one has returned.
    static bool s_bSettingValue = false;
    if (!s_bSettingValue)
    {
        s_bSettingValue = true;
        m_pProgress->setValue(int(iCurrent / m_iProgressScale));
        s_bSettingValue = false;
    }
    // The end is shown once the copy has been moved into place.
    if (iCurrent == iTotal)
        m_bScriptComplete = true;
}

void CAdminPage::packagerFinished()
{
    qDebug() << "CAdminPage::packagerFinished() begin";
    if (!m_bScriptPublishing)
        return;
    m_bScriptPublishing = false;
    bool published = !m_bScriptFailed && m_bScriptComplete;
    if (published)
    {
        // Installers are started directly: the copy keeps the source's permissions.
        QFile::setPermissions(m_sScriptStaging,
                              QFile::permissions(m_sourcePackageFile.absoluteFilePath()));
        published = ::rename(QFile::encodeName(m_sScriptStaging).constData(),
                             QFile::encodeName(m_sScriptOutput).constData()) == 0;
        if (!published)
            qDebug() << "CAdminPage::packagerFinished(): cannot move the copy to" << m_sScriptOutput
                     << qt_error_string(errno);
    }
    if (!published)
        QFile::remove(m_sScriptStaging);
    const bool failedQuietly = !published && !m_bScriptFailed;
    m_bScriptFailed = false;
    m_pProgress->reset();
    setWaitCursor(false);
    if (published)
        showInformation(tr("Tessary successfully generated the installation package."));
    else if (failedQuietly)
        showWarning(tr("Cannot write to file \"%1\".  Close the file if it's open, verify that "
                       "the disk isn't full, remove write-protection on the file, and then try "
                       "again.")
                        .arg(QDir::toNativeSeparators(m_sScriptOutput)));
    qDebug() << "CAdminPage::packagerFinished() end";
}

void CAdminPage::packagerError(const QString& text, const QString& path)
{
    // The first failure ends the copy; later reports of the same copy add nothing.
    if (!m_bScriptPublishing || m_bScriptFailed)
        return;
    m_bScriptFailed = true;
    m_pPackagerThread->stop();
    m_pProgress->reset();
    setWaitCursor(false);
    const QString shown = path == m_sScriptStaging ? m_sScriptOutput : path;
    showWarning(text.arg(QDir::toNativeSeparators(shown)));
}

void CAdminPage::onPackageOpenFileError(const QString& path)
{
    packagerError(tr("Tessary is unable to open \"%1\".  Verify that the file exists and that is "
                     "has read permissions, and then try again."),
                  path);
}

void CAdminPage::onPackageReadFileError(const QString& path)
{
    packagerError(tr("Tessary is unable to read \"%1\". Verify that the file exists and that it "
                     "has read permissions, and then try again."),
                  path);
}

void CAdminPage::onPackageWriteFileError(const QString& path)
{
    packagerError(tr("Cannot write to file \"%1\".  Close the file if it's open, verify that the "
                     "disk isn't full, remove write-protection on the file, and then try again."),
                  path);
}

// ---------------------------------------------------------------------------
// Recent files

void CAdminPage::addRecentFile(const QString& path)
{
    if (path.isEmpty() || isAdminConfigPath(path))
        return;
    m_lRecentFiles.removeAll(path);
    m_lRecentFiles.prepend(path);
    while (m_lRecentFiles.size() > m_iRecentFilesLimit)
        m_lRecentFiles.removeLast();
    m_pOpenRecentMenu->setEnabled(true);
}

void CAdminPage::removeRecentFile(const QString& path)
{
    m_lRecentFiles.removeAll(path);
    m_pOpenRecentMenu->setEnabled(!m_lRecentFiles.isEmpty());
}

void CAdminPage::addOpenRecentMenu()
{
    m_pOpenRecentMenu->clear();
    for (int i = 0; i < m_lRecentFiles.size() && i < m_iRecentFilesLimit; ++i)
    {
        QAction* const entry = m_pOpenRecentMenu->addAction(m_lRecentFiles.at(i));
        entry->setData(m_lRecentFiles.at(i));
        connect(entry, &QAction::triggered, this, &CAdminPage::openRecent);
    }
}

void CAdminPage::addOpenRecentList(CPackage* package)
{
    if (!package)
        return;
    const QString path = package->file().absoluteFilePath();
    if (!package->isValid())
        qDebug().noquote() << "CAdminPage::addOpenRecentList(" + path + "): not a valid package";
    // The list may already hold the file opened from the command line.
    else if (!m_lRecentFiles.contains(path) && !isAdminConfigPath(path) &&
             m_lRecentFiles.size() < m_iRecentFilesLimit)
        m_lRecentFiles.append(path);
    delete package;
    m_pOpenRecentMenu->setEnabled(!m_lRecentFiles.isEmpty());
}

void CAdminPage::openRecent()
{
    QAction* const entry = qobject_cast<QAction*>(sender());
    if (!entry)
        return;
    const QString path = entry->data().isValid() ? entry->data().toString() : entry->text();
    if (isReadable(path))
    {
        emit openFile(path);
        return;
    }
    showWarning(tr("Could not open %1").arg(path));
    removeRecentFile(path);
}

// ---------------------------------------------------------------------------
// Closing, drag and drop

void CAdminPage::closeEvent(QCloseEvent* event)
{
    if (promptToSave(true))
        event->accept();
    else
        event->ignore();
}

QString CAdminPage::droppedPath(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return QString();
    QString path = data->urls().first().toLocalFile();
#ifdef Q_OS_MACOS
    // A file reference ("/.file/id=...") names the file only through the system.
    if (path.startsWith(QLatin1String("/.file/")))
    {
        const QByteArray reference = QByteArray("file://") + path.toUtf8();
        CFURLRef url = CFURLCreateWithBytes(kCFAllocatorDefault,
                                            reinterpret_cast<const UInt8*>(reference.constData()),
                                            reference.size(), kCFStringEncodingUTF8, nullptr);
        if (url)
        {
            if (CFURLRef filePathUrl = CFURLCreateFilePathURL(kCFAllocatorDefault, url, nullptr))
            {
                CFStringRef absolute = CFURLGetString(filePathUrl);
                char buffer[4096];
                if (absolute &&
                    CFStringGetCString(absolute, buffer, sizeof buffer, kCFStringEncodingUTF8))
                {
                    path = QUrl::fromPercentEncoding(QByteArray(buffer));
                    if (path.startsWith(QLatin1String("file://")))
                        path.remove(0, 7);
                }
                CFRelease(filePathUrl);
            }
            CFRelease(url);
        }
    }
#endif
    if (path.isEmpty())
        return QString();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QFileInfo info(path);
    static const QStringList supported{QStringLiteral("xml"), QStringLiteral("pkg"),
                                       QStringLiteral("mpkg"), QStringLiteral("dmg"),
                                       QStringLiteral("package")};
    if (!supported.contains(info.suffix().toLower()))
        return QString();
    return info.absoluteFilePath();
}

bool CAdminPage::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop &&
        type != QEvent::ShortcutOverride)
        return QMainWindow::eventFilter(watched, event);
    QWidget* const target = qobject_cast<QWidget*>(watched);
    if (!target || target == this || !isAncestorOf(target))
        return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::ShortcutOverride)
    {
        // Text fields claim Ctrl+E (end of line) before shortcuts are looked at.
        QKeyEvent* const key = static_cast<QKeyEvent*>(event);
        const QKeySequence pressed(int(key->modifiers()) | key->key());
        if (m_pPublishAction->isEnabled() &&
            m_pPublishAction->shortcut().matches(pressed) == QKeySequence::ExactMatch)
        {
            event->ignore();
            return true;
        }
        return QMainWindow::eventFilter(watched, event);
    }
    // A field would take the installer's address as text; the window opens it.
    QDropEvent* const drop = static_cast<QDropEvent*>(event);
    const QString path = droppedPath(drop->mimeData());
    if (path.isEmpty())
        return QMainWindow::eventFilter(watched, event);
    drop->acceptProposedAction();
    if (type == QEvent::Drop)
        emit openFile(path);
    return true;
}

void CAdminPage::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CAdminPage::dropEvent(QDropEvent* event)
{
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty())
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit openFile(path);
}
