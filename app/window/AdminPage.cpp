#include "AdminPage.h"

#include "AboutDialog.h"
#include "DroppedFile.h"
#include "FieldMarks.h"
#include "FieldReset.h"
#include "OpenFileDialog.h"
#include "PageSearch.h"
#include "PublishFlow.h"
#include "RecentFiles.h"
#include "SaveFlow.h"
#include "UndoHistory.h"
#include "WelcomePage.h"
#include "WindowGeometry.h"
#include "WindowMessages.h"
#include "WindowStyle.h"

#include "app/document/Migration.h"
#include "app/document/Publisher.h"
#include "app/document/ShownText.h"
#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/PackagerThread.h"
#include "app/review/ReviewDialog.h"
#include "app/secrets/SecretFields.h"
#include "app/signing/PublishSigning.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/OverrideCursor.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include <preference/Preference.h>
#include <preference/PreferenceBase.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QShowEvent>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <optional>

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

} // namespace

CAdminPage::CAdminPage(const QString& sFile, const QStringList& options,
                       CXmlContainer* parentContainer, QWidget* parent)
    : QMainWindow(parent), CDocumentRoot(parentContainer), m_sOpenedPath(sFile)
{
    qDebug().noquote() << "CAdminPage::CAdminPage(" + sFile + ") begin";
    initTessaryResources();
    setOptions(options);
    m_pDocument = new CDocument(*this, this);
    connect(m_pDocument, &CDocument::definitionLoaded, this, &CAdminPage::definitionLoaded);
    connect(m_pDocument, &CDocument::packageOpened, this,
            [this](const QFileInfo& file)
            {
                m_sLastOpenedDir = file.absolutePath();
                writeLastOpenedDirectory();
            });

    createLayout();
    m_pUndoHistory = new CUndoHistory(*this, this);
    m_pFieldReset = new CFieldReset(*m_pUndoHistory, this);
    connect(m_pUndoHistory, &CUndoHistory::cleanRestored, this,
            [this]
            {
                CDocumentRoot::resetChanged(false);
                refreshTitle();
            });
    m_pSigning = new CPublishSigning(this);
    statusBar()->addWidget(m_pSigning->statusLabel(), 1);
    statusBar()->addWidget(m_pSigning->detailsButton());
    // Publish's shortcut works while searching too.
    (new CPageSearch(this))->installEventFilter(this);
    createMenus();
    loadStyleSheets();
    setAcceptDrops(true);
    setWindowIcon(QIcon(QStringLiteral(":/res/manager_16x16.png")));
    connect(this, &CAdminPage::openFile, this, qOverload<const QString&>(&CAdminPage::open),
            Qt::QueuedConnection);
    createWorkers();

    connect(m_pPageIndex, &CPageIndex::itemChanged, this, &CAdminPage::pageSelected);
    connect(m_pPageHolder, &CPageHolder::pageAdded, this, &CAdminPage::pageAdded,
            Qt::QueuedConnection);
    connect(m_pPageHolder, &CPageHolder::pageModified, this, &CAdminPage::pageModified);
    connect(m_pPageHolder, &CPageHolder::pageChanged, this, &CAdminPage::updateResetPageAction);

    // The built-in first page and its row.
    const QString welcomeName = tr("welcome");
    m_pWelcomePage = new CWelcomePage(m_pPageHolder, nullptr);
    m_pWelcomePage->setPageName(welcomeName);
    m_pPageHolder->addPage(m_pWelcomePage);
    m_pWelcomePage->setRecentFiles(m_pRecentFiles->files());
    connect(m_pRecentFiles, &CRecentFiles::changed, m_pWelcomePage, &CWelcomePage::setRecentFiles);
    // The remembered files arrive after the window is shown: the welcome page grows.
    connect(m_pRecentFiles, &CRecentFiles::changed, this,
            [this]
            {
                if (isVisible() && m_pPageHolder->currentWidget() == m_pWelcomePage)
                    QTimer::singleShot(0, this, &CAdminPage::fitShownPage);
            });
    connect(m_pWelcomePage, &CWelcomePage::recentFileChosen, this, &CAdminPage::openRecentFile);
    CIndexLink* const welcomeLink = new CIndexLink(m_pPageIndex);
    welcomeLink->setPageName(welcomeName);
    m_pPageIndex->indexModel()->invisibleRootItem()->appendRow(welcomeLink);
    QFont bold = welcomeLink->font();
    bold.setWeight(BoldWeight);
    welcomeLink->setFont(bold);
    QTimer::singleShot(0, m_pPageIndex, &CPageIndex::expandAndHideHeader);
    m_pPublishFlow = new CPublishFlow(*this);
    m_pSaveFlow = new CSaveFlow(*this);

    QString error;
    if (initActions(error) != ParseSuccess)
        qWarning().noquote() << "CAdminPage::CAdminPage(): " + error;
    keepBuiltState({this, m_pPageHolder, m_pPageIndex});

    m_pCopyThread->start();
    QTimer::singleShot(0, m_pCopyThread, &CCopyFileThread::loadCache);

    refreshTitle();
    updateDocumentActions(false);
    m_bOpeningFirstFile = true;
    if (!sFile.isEmpty() && !tryOpen(CCopyFileThread::loadPackage(QFileInfo(sFile)), false, true))
        m_sOpenedPath.clear(); // nothing to go back to after a failed open
    m_bOpeningFirstFile = false;
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
    m_pCopyThread->syncSaveCache(recentFiles());
    m_pPublishFlow->publisher().cancel();
    m_pCopyThread->stop();
    m_pCopyThread->wait();
    // A script copy still running is stopped; its partial output went with the cancel.
    if (m_pPackagerThread->isRunning())
    {
        m_pPackagerThread->stop();
        m_pPackagerThread->wait();
    }
    QCoreApplication::sendPostedEvents(m_pPublishFlow);
    m_pPublishFlow->publisher().removeLeftovers();

    // Take the page tree down while this root is still whole.
    setLoading(true);
    delete m_pPageIndex;
    m_pPageIndex = nullptr;
    delete m_pPageHolder;
    m_pPageHolder = nullptr;
    m_pWelcomePage = nullptr;
    delete m_pDocument;
    m_pDocument = nullptr;
    qDebug() << "CAdminPage::~CAdminPage() end";
}

// ---------------------------------------------------------------------------
// Window construction

void CAdminPage::createWorkers()
{
    // The file-operation worker and its reports, all delivered on this thread. The
    // publish sequence listens to the reports of its copies itself.
    m_pCopyThread = new CCopyFileThread(this);
    connect(m_pCopyThread, &CCopyFileThread::searchResult, this, &CAdminPage::addOpenRecentList,
            Qt::QueuedConnection);
    connect(this, &CAdminPage::removeDirectory, m_pCopyThread, &CCopyFileThread::removeDirectory);
    connect(this, &CAdminPage::copyDirectory, m_pCopyThread, &CCopyFileThread::copyDirectory);
    connect(this, &CAdminPage::copyFlatPackage, m_pCopyThread, &CCopyFileThread::copyFlatPackage);
    m_pPackagerThread = new CPackagerThread(this);
}

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
    m_pRecentFiles = new CRecentFiles(m_pOpenRecentMenu, this);
    connect(m_pRecentFiles, &CRecentFiles::chosen, this, &CAdminPage::openRecentFile);

    m_pSaveAction = fileMenu->addAction(tr("&Save"));
    m_pSaveAction->setShortcut(QKeySequence(tr("Ctrl+S")));
    m_pSaveAsAction = fileMenu->addAction(tr("Save &As..."));
    // The platform's own Save As keys; where it has none, the usual ones.
    const QList<QKeySequence> saveAsKeys = QKeySequence::keyBindings(QKeySequence::SaveAs);
    if (saveAsKeys.isEmpty())
        m_pSaveAsAction->setShortcut(QKeySequence(tr("Ctrl+Shift+S")));
    else
        m_pSaveAsAction->setShortcuts(saveAsKeys);
    m_pImportAction = fileMenu->addAction(tr("I&mport..."));
    connect(m_pSaveAction, &QAction::triggered, this, &CAdminPage::save);
    connect(m_pSaveAsAction, &QAction::triggered, this, &CAdminPage::saveAs);
    connect(m_pImportAction, &QAction::triggered, this, &CAdminPage::import);
    fileMenu->addSeparator();
    QAction* const exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* const editMenu = menuBar()->addMenu(tr("&Edit"));
    editMenu->addAction(m_pUndoHistory->undoAction());
    editMenu->addAction(m_pUndoHistory->redoAction());
    editMenu->addSeparator();
    m_pResetPageAction = editMenu->addAction(tr("Reset Pa&ge to Defaults"));
    m_pResetPageAction->setEnabled(false);
    connect(m_pResetPageAction, &QAction::triggered, this, &CAdminPage::resetShownPage);
    // What changed just now becomes a step before the menu names it.
    connect(editMenu, &QMenu::aboutToShow, m_pUndoHistory,
            [this] { m_pUndoHistory->recordPending(); });

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
    // The look follows the palette, also when the desktop changes it later.
    CWindowStyle* const style = new CWindowStyle(this);
    connect(style, &CWindowStyle::applied, m_pDetailsLabel,
            [this](const QString& styleSheet) { m_pDetailsLabel->setStyleSheet(styleSheet); });
    style->apply();
}

void CAdminPage::makeReasonableSize()
{
    // Also lowers the least size to what a small screen has room for.
    CWindowGeometry::growOnLargeScreen(*this);
}

void CAdminPage::fitShownPage()
{
    CWindowGeometry::fitPage(
        *this, m_pPageHolder ? qobject_cast<CPage*>(m_pPageHolder->currentWidget()) : nullptr);
}

void CAdminPage::showWarning(const QString& text)
{
    showForMessage();
    CWindowMessages::warn(this, documentTitle(), text);
}

void CAdminPage::showInformation(const QString& text)
{
    showForMessage();
    CWindowMessages::inform(this, documentTitle(), text);
}

void CAdminPage::showPublished(const QString& text, const QString& output)
{
    showForMessage();
    CWindowMessages::informPublished(this, documentTitle(), text, output);
}

void CAdminPage::showForMessage()
{
    // A message about opening the command line's file comes while the window is
    // still being made: it is shown over the window, not alone before it.
    if (m_bOpeningFirstFile && !m_bFittedOnFirstShow && !isVisible())
        show();
}

void CAdminPage::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_bFittedOnFirstShow)
        return;
    m_bFittedOnFirstShow = true;
    // The screen is known now; it may be smaller than the one guessed before.
    CWindowGeometry::keepWithinScreen(*this);
    if (QWindow* const handle = windowHandle())
        connect(handle, &QWindow::screenChanged, this,
                [this] { CWindowGeometry::keepWithinScreen(*this); });
    // Sizes are known once the window is laid out for its first showing.
    QTimer::singleShot(0, this, &CAdminPage::fitShownPage);
}

// ---------------------------------------------------------------------------
// Title and messages

QString CAdminPage::configurationDisplayName() const
{
    return m_pDocument->configurationFile().filePath().isEmpty()
               ? tr("Untitled")
               : m_pDocument->configurationFile().fileName();
}

void CAdminPage::refreshTitle()
{
    QString title = tr("Tessary");
    if (!documentTitle().isEmpty())
    {
        title += QStringLiteral(": ") + documentTitle() + QStringLiteral(" - ") +
                 configurationDisplayName();
        if (isChanged())
            title += QStringLiteral(" *");
    }
    setWindowTitle(title);
}

void CAdminPage::about()
{
    CAboutDialog dialog(this);
    dialog.exec();
}

// ---------------------------------------------------------------------------
// Framework hooks: the root's own rules are the document root's.

QWidget* CAdminPage::widget() const
{
    return const_cast<CAdminPage*>(this);
}

int CAdminPage::initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                           QString& error)
{
    if (signal == QLatin1String("validate") && action)
        connect(this, &CAdminPage::validatePublish, const_cast<CActionItem*>(action),
                &CActionItem::doAction);
    return CDocumentRoot::initSignal(signal, action, element, error);
}

void CAdminPage::runValidateActions()
{
    emit validatePublish();
}

void CAdminPage::onMouseOverWidgetImpl(const QString& text)
{
    m_pDetails->setText(text);
}

void CAdminPage::showDocumentIcon(const QString& path)
{
    setWindowIcon(QIcon(path.isEmpty() ? QStringLiteral(":/res/manager_16x16.png") : path));
}

void CAdminPage::documentTitleChanged()
{
    refreshTitle();
}

void CAdminPage::documentCleared()
{
    // Without a document the welcome row is the one highlighted.
    if (!m_pPageIndex->currentIndex().isValid())
        m_pPageIndex->setCurrentIndex(m_pPageIndex->indexModel()->index(0, 0));
    m_pFieldReset->forget();
    m_pUndoHistory->clear();
    updateResetPageAction();
}

void CAdminPage::documentChanged(CXmlObject* source)
{
    m_pUndoHistory->noteChange(source);
    // A group's value changes through its buttons: the group has changed too.
    for (CXmlObject* field = source; field; field = field->parentObject())
    {
        m_pDocument->fieldChanged(field);
        CFieldMarks::clear(field);
    }
    refreshTitle();
    updateResetPageAction();
}

void CAdminPage::resetChanged(bool recursive)
{
    CDocumentRoot::resetChanged(recursive);
    if (m_pUndoHistory)
        m_pUndoHistory->markClean();
}

void CAdminPage::resetShownPage()
{
    m_pFieldReset->resetPage(qobject_cast<CPage*>(m_pPageHolder->currentWidget()));
}

void CAdminPage::updateResetPageAction()
{
    if (m_pResetPageAction && m_pPageHolder)
        m_pResetPageAction->setEnabled(
            m_pFieldReset->pageDiffers(qobject_cast<CPage*>(m_pPageHolder->currentWidget())));
}

void CAdminPage::quitRequested()
{
    close();
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
    // Values a document is opened with (a customization's, an import's) are no
    // change the administrator made on the page.
    if (!pPage || isLoading())
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
            tr("All Supported Files (*.xml *.mpkg *.pkg *.dmg *.package);;Apple Package (*.dmg "
               "*.pkg *.mpkg);;Linux Script Installer (*.package);;Configuration Files (*.xml)"));
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
        m_sOpenedPath = sourcePackageFile().absoluteFilePath();
    else if (!m_sOpenedPath.isEmpty())
        tryOpen(CCopyFileThread::loadPackage(QFileInfo(m_sOpenedPath)), false, true);
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
    const bool enable = loaded && !sourcePackageFile().filePath().isEmpty();
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
    std::optional<COverrideCursor> waiting(std::in_place, Qt::WaitCursor);
    QString message;
    const CDocument::OpenResult result = m_pDocument->open(package, loadAsConfiguration, message);
    const bool loaded = result == CDocument::Opened;
    waiting.reset();
    if (result == CDocument::Unreadable)
        removeRecentFile(path);
    if (!loaded && !message.isEmpty())
        showWarning(message);
    if (result != CDocument::NoPackage && result != CDocument::Unreadable &&
        result != CDocument::NotValid)
    {
        // Another document, or the values of one: nothing before it is undone.
        m_pUndoHistory->clear();
        refreshTitle();
        updateDocumentActions(loaded);
        // The signature shown is that of the installer the document came from.
        const QString source = sourcePackageFile().absoluteFilePath();
        m_pSigning->documentOpened(loaded && CMacFlatPackage::isFlatPackage(source) ? source
                                                                                    : QString());
    }
    if (loaded && rememberInRecent)
    {
        addRecentFile(path);
        m_pSaveFlow->setOpenedFromPackage(!path.endsWith(QLatin1String(".xml")));
    }
    if (loaded)
    {
        // However the file came (menu, drop, recent list), its first page shows whole
        // once it is laid out.
        QTimer::singleShot(0, this, &CAdminPage::fitShownPage);
        showLoadNotes();
    }
    qDebug().noquote() << "CAdminPage::tryOpen(" + path + ") end";
    return loaded;
}

void CAdminPage::definitionLoaded()
{
    // The pages' fields would take a dropped installer, and Ctrl+E, for themselves.
    const QList<QWidget*> fields = m_pPageHolder->findChildren<QWidget*>();
    for (QWidget* field : fields)
        field->installEventFilter(this);
    CSecretFields::protect(this);
    m_pFieldReset->definitionLoaded(*this, m_pPageHolder);
    m_pUndoHistory->clear();
    keepMenuMnemonics();
    nameUnlabelledFields();
    QStandardItemModel* const model = m_pPageIndex->indexModel();
    if (model->rowCount() > 1)
        m_pPageIndex->setCurrentIndex(model->index(1, 0));
}

void CAdminPage::keepMenuMnemonics()
{
    // Alt with a menu's letter opens the menu; a caption using the same letter would
    // take the key instead, so the caption gives its letter up.
    QSet<QChar> menuLetters;
    for (QAction* const menu : menuBar()->actions())
    {
        const int at = mnemonicAt(menu->text());
        if (at >= 0)
            menuLetters.insert(menu->text().at(at + 1).toUpper());
    }
    for (QLabel* const label : m_pPageHolder->findChildren<QLabel*>())
    {
        QString text = label->text();
        if (Qt::mightBeRichText(text))
            continue;
        const int at = mnemonicAt(text);
        if (at >= 0 && menuLetters.contains(text.at(at + 1).toUpper()))
            label->setText(text.remove(at, 1));
    }
}

void CAdminPage::nameUnlabelledFields()
{
    // A field laid out right after a caption that names no buddy is announced by that
    // caption, not by its value or nothing. Buttons carry their own caption.
    QSet<const QWidget*> labelled;
    for (const QLabel* const label : m_pPageHolder->findChildren<QLabel*>())
    {
        if (label->buddy())
            labelled.insert(label->buddy());
    }
    for (QWidget* const container : m_pPageHolder->findChildren<QWidget*>())
    {
        QLayout* const layout = container->layout();
        if (!layout)
            continue;
        QLabel* previous = nullptr;
        for (int i = 0; i < layout->count(); ++i)
        {
            QWidget* const widget = layout->itemAt(i)->widget();
            if (!widget)
                continue;
            QLabel* const label = qobject_cast<QLabel*>(widget);
            const QAbstractButton* const button = qobject_cast<QAbstractButton*>(widget);
            if (!label && previous && widget->accessibleName().isEmpty() &&
                widget->focusPolicy() != Qt::NoFocus && !labelled.contains(widget) &&
                !(button && !button->text().isEmpty()))
            {
                QString name = previous->text();
                if (Qt::mightBeRichText(name))
                {
                    name = QTextDocumentFragment::fromHtml(name).toPlainText();
                }
                else
                {
                    const int at = mnemonicAt(name);
                    if (at >= 0)
                        name.remove(at, 1);
                    name.replace(QLatin1String("&&"), QLatin1String("&"));
                }
                widget->setAccessibleName(name);
            }
            previous = label && !label->buddy() && !label->text().isEmpty() ? label : nullptr;
        }
    }
}

int CAdminPage::mnemonicAt(const QString& text)
{
    for (int at = text.indexOf(QLatin1Char('&')); at >= 0 && at + 1 < text.size();
         at = text.indexOf(QLatin1Char('&'), at + 2))
    {
        if (text.at(at + 1) != QLatin1Char('&'))
            return at;
    }
    return -1;
}

bool CAdminPage::loadPageDefinition(const QByteArray& bytes)
{
    QString message;
    if (m_pDocument->loadDefinition(bytes, message))
        return true;
    refreshTitle();
    // The message is shown with the arrow; the caller's cursor comes back after it.
    showWarning(message);
    return false;
}

bool CAdminPage::loadCustomizationFile(const QFileInfo& file, bool importMode)
{
    QString message;
    const bool loaded = m_pDocument->loadCustomizationFile(file, importMode, message);
    // Loaded values (an import too) are where the history starts.
    m_pUndoHistory->clear();
    if (!loaded && !message.isEmpty())
        showWarning(message);
    refreshTitle();
    return loaded;
}

void CAdminPage::showLoadNotes()
{
    QStringList lines;
    bool refused = false;
    for (const CDocument::CValueNote& note : m_pDocument->loadNotes())
    {
        lines << CDocument::noteText(note);
        if (note.m_kind == CDocument::CValueNote::Refused && note.m_pGuard)
        {
            refused = true;
            CFieldMarks::markRefused(note.m_pField, CDocument::noteText(note));
        }
    }
    if (lines.isEmpty())
        return;
    if (refused)
        lines << QString()
              << tr("A field that did not take its value keeps its own; Publish "
                    "names it until it is changed.");
    showInformation(tr("Some values of the configuration file were not taken as they stand:") +
                    QStringLiteral("\n\n") + lines.join(QLatin1Char('\n')));
}

// ---------------------------------------------------------------------------
// Saving (used by the save-changes prompt)

QMultiMap<QString, CXmlObject*> CAdminPage::collectProperties(bool onlySet) const
{
    return m_pDocument->collectProperties(onlySet);
}

QList<CCustomizationFile::CEntry>
CAdminPage::entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets)
{
    return CDocument::entriesOf(properties, withSecrets);
}

bool CAdminPage::saveXMLToFile(const QByteArray& fileName, bool withSecrets) const
{
    return m_pDocument->saveTo(QString::fromUtf8(fileName), withSecrets);
}

bool CAdminPage::promptToSave(bool closing, bool importing)
{
    return m_pSaveFlow->promptToSave(closing, importing);
}

// ---------------------------------------------------------------------------
// Save, Save As, Import

void CAdminPage::save()
{
    qDebug() << "CAdminPage::save() begin";
    m_pSaveFlow->save();
    refreshTitle();
    qDebug() << "CAdminPage::save() end";
}

void CAdminPage::saveAs()
{
    qDebug() << "CAdminPage::saveAs() begin";
    m_pSaveFlow->saveAs();
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
    if (!loadCustomizationFile(QFileInfo(path), true))
        return;
    // The report of a file made for another release says what became of every value;
    // otherwise what the fields did not take is told.
    const QString report = CMigration::importReport(*m_pDocument, path);
    if (!report.isEmpty())
        showInformation(report);
    else
        showLoadNotes();
    qDebug() << "CAdminPage::import() end";
}

// ---------------------------------------------------------------------------
// Publishing: the document's sequence, with the window's dialogs around it.

CPropertyText::Properties CAdminPage::publishedProperties() const
{
    return m_pDocument->publishedProperties();
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

bool CAdminPage::writeBundleFiles(const QDir& bundle, const QString& properties)
{
    QString failed;
    const CPublisher::BundleResult result =
        CPublisher::writeBundleFiles(bundle, properties, &failed);
    if (result != CPublisher::BundleWritten)
        showWarning(CPublisher::bundleFailure(result, failed));
    return result == CPublisher::BundleWritten;
}

QProgressDialog* CAdminPage::progressDialog() const
{
    return m_pPublishFlow->progressDialog();
}

bool CAdminPage::isPublishing() const
{
    return m_pPublishFlow->isRunning();
}

void CAdminPage::publish()
{
    qDebug() << "CAdminPage::publish() begin";
    m_pPublishFlow->publish();
    qDebug() << "CAdminPage::publish() end";
}

void CAdminPage::review()
{
    qDebug() << "CAdminPage::review() begin";
    CReviewDialog dialog(this, *m_pDocument, m_sLastOpenedDir, false);
    dialog.exec();
    qDebug() << "CAdminPage::review() end";
}

void CAdminPage::onProgress()
{
    m_pPublishFlow->onProgress();
}

void CAdminPage::copyFinished(const QFileInfo& src, const QFileInfo& dst)
{
    m_pPublishFlow->publisher().onCopyDone(src, dst);
}

void CAdminPage::copyError(const QFileInfo& src, const QFileInfo& dst)
{
    m_pPublishFlow->publisher().onCopyError(src, dst);
}

void CAdminPage::copyCanceled()
{
    m_pPublishFlow->cancel();
}

void CAdminPage::removeDirError(const QFileInfo& file)
{
    m_pPublishFlow->publisher().onRemoveError(file);
}

void CAdminPage::onPackagerProgress(qint64 iCurrent, qint64 iTotal)
{
    m_pPublishFlow->publisher().onPackagerProgress(iCurrent, iTotal);
}

void CAdminPage::onPackageOpenFileError(const QString& path)
{
    m_pPublishFlow->publisher().onPackagerOpenError(path);
}

void CAdminPage::onPackageReadFileError(const QString& path)
{
    m_pPublishFlow->publisher().onPackagerReadError(path);
}

void CAdminPage::onPackageWriteFileError(const QString& path)
{
    m_pPublishFlow->publisher().onPackagerWriteError(path);
}

// ---------------------------------------------------------------------------
// Recent files

void CAdminPage::addRecentFile(const QString& path)
{
    m_pRecentFiles->add(path);
}

void CAdminPage::removeRecentFile(const QString& path)
{
    m_pRecentFiles->remove(path);
}

const QStringList& CAdminPage::recentFiles() const
{
    return m_pRecentFiles->files();
}

void CAdminPage::addOpenRecentMenu()
{
    m_pRecentFiles->fillMenu();
}

void CAdminPage::addOpenRecentList(CPackage* package)
{
    m_pRecentFiles->addRemembered(package);
}

void CAdminPage::openRecent()
{
    QAction* const entry = qobject_cast<QAction*>(sender());
    if (entry)
        openRecentFile(entry->data().isValid() ? entry->data().toString() : entry->text());
}

void CAdminPage::openRecentFile(const QString& path)
{
    if (CDocument::isReadable(path))
    {
        emit openFile(path);
        return;
    }
    showWarning(tr("Could not open %1").arg(CShownText::escaped(path)));
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
        // In a page's field the document's undo wins over the field's own, so that
        // what an action changed on linked fields goes back with it; typing just done
        // is a step. The search field keeps its own.
        for (QAction* const action : {m_pUndoHistory->undoAction(), m_pUndoHistory->redoAction()})
        {
            if (!m_pPageHolder->isAncestorOf(target) || !action->shortcuts().contains(pressed))
                continue;
            m_pUndoHistory->recordPending();
            if (action->isEnabled())
            {
                event->ignore();
                return true;
            }
        }
        return QMainWindow::eventFilter(watched, event);
    }
    // A field would take the installer's address as text; the window opens it.
    QDropEvent* const drop = static_cast<QDropEvent*>(event);
    const QString path = CDroppedFile::pathOf(drop->mimeData());
    if (path.isEmpty())
        return QMainWindow::eventFilter(watched, event);
    drop->acceptProposedAction();
    if (type == QEvent::Drop)
        emit openFile(path);
    return true;
}

void CAdminPage::dragEnterEvent(QDragEnterEvent* event)
{
    if (!CDroppedFile::pathOf(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CAdminPage::dropEvent(QDropEvent* event)
{
    const QString path = CDroppedFile::pathOf(event->mimeData());
    if (path.isEmpty())
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit openFile(path);
}
