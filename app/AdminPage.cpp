#include "AdminPage.h"

#include "AboutDialog.h"
#include "CustomWidgetFactory.h"
#include "IndexLink.h"
#include "PageIndex.h"
#include "WelcomePage.h"

#include <ActionItem.h>
#include <CopyFileThread.h>
#include <PackagerThread.h>
#include <Page.h>
#include <PageHolder.h>
#include <XmlDefinitionReader.h>
#include <XmlPackage.h>
#include <preference/Preference.h>
#include <preference/PreferenceBase.h>

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
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTemporaryFile>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <functional>
#include <memory>
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

// Shows the arrow cursor over every override cursor while a message box is up.
class CArrowCursor
{
public:
    CArrowCursor() { QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor)); }
    ~CArrowCursor() { QApplication::restoreOverrideCursor(); }
    CArrowCursor(const CArrowCursor&) = delete;
    CArrowCursor& operator=(const CArrowCursor&) = delete;
};
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
    createMenus();
    loadStyleSheets();
    setMinimumSize(800, 600);
    setAcceptDrops(true);
    setWindowIcon(QIcon(QStringLiteral(":/res/manager_16x16.png")));
    connect(this, &CAdminPage::openFile, this, qOverload<const QString&>(&CAdminPage::open),
            Qt::QueuedConnection);

    // The file-operation worker. Its publishing reports are connected with publishing.
    m_pCopyThread = new CCopyFileThread(this);
    connect(m_pCopyThread, &CCopyFileThread::searchResult, this, &CAdminPage::addOpenRecentList,
            Qt::QueuedConnection);
    connect(this, &CAdminPage::removeDirectory, m_pCopyThread, &CCopyFileThread::removeDirectory);
    connect(this, &CAdminPage::copyDirectory, m_pCopyThread, &CCopyFileThread::copyDirectory);
    connect(this, &CAdminPage::copyFlatPackage, m_pCopyThread, &CCopyFileThread::copyFlatPackage);
    m_pPackagerThread = new CPackagerThread(this);

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

    QString error;
    if (initActions(error) != ParseSuccess)
        qWarning().noquote() << "CAdminPage::CAdminPage(): " + error;

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
    qDeleteAll(m_lTemporaryFiles);
    m_lTemporaryFiles.clear();

    // Take the page tree down while this root is still whole.
    m_bLoading = true;
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

    // Saving, importing and publishing are connected where those commands live.
    m_pSaveAction = fileMenu->addAction(tr("&Save"));
    m_pSaveAction->setShortcut(QKeySequence(tr("Ctrl+S")));
    m_pSaveAsAction = fileMenu->addAction(tr("Save &As..."));
    m_pImportAction = fileMenu->addAction(tr("I&mport..."));
    fileMenu->addSeparator();
    QAction* const exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu* const publishMenu = menuBar()->addMenu(tr("&Publish"));
    m_pPublishAction = publishMenu->addAction(tr("Publish &customizations..."));
    m_pPublishAction->setShortcut(QKeySequence(tr("Ctrl+E")));

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
    CArrowCursor arrow;
    QMessageBox::warning(this, m_sDocumentTitle, text, QMessageBox::Ok);
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
        path = QFileDialog::getOpenFileName(
            this, tr("Open file..."), m_sOpenedPath.isEmpty() ? m_sLastOpenedDir : m_sOpenedPath,
            tr("All Supported Files (*.xml *.mpkg *.pkg *.dmg);;Apple Package (*.dmg *.pkg "
               "*.mpkg);;Configuration Files (*.xml)"));
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
        showWarning(tr("Could not open %1").arg(file.filePath()));
        removeRecentFile(file.absoluteFilePath());
        if (!ownsPackage(package))
            delete package;
        return false;
    }
    CXmlPackage* const xmlPackage = dynamic_cast<CXmlPackage*>(package);
    if (!package->isValid() && !xmlPackage)
    {
        showWarning(tr("\"%1\" isn't a valid KORVA installation package.")
                        .arg(QDir::toNativeSeparators(file.filePath())));
        if (!ownsPackage(package))
            delete package;
        return false;
    }

    m_configurationFile = QFileInfo();
    m_lastPublishedFile = QFileInfo();
    m_sPackageOS = package->os();
    // A customization file opens its installer through a nested call.
    const bool wasLoading = m_bLoading;
    m_bLoading = true;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));

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
        loaded = loadCustomizationBytes(package->xml(), false, handedOn);
        if (loaded && xmlPackage)
            m_configurationFile = file;
    }
    else
    {
        loaded = loadCustomizationFile(file, loadAsConfiguration);
    }

    refreshTitle();
    updateDocumentActions(loaded);
    QApplication::restoreOverrideCursor();
    m_bLoading = wasLoading;

    if (loaded && rememberInRecent)
    {
        addRecentFile(file.absoluteFilePath());
        m_bOpenedFromPackage = !file.absoluteFilePath().endsWith(QLatin1String(".xml"));
    }
    m_pOpenRecentMenu->setEnabled(!m_lRecentFiles.isEmpty());
    qDebug().noquote() << "CAdminPage::tryOpen(" + path + ") end";
    return loaded;
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
        delete page;
    }
    QList<CActionItem*> actions;
    actions.swap(m_lActions);
    qDeleteAll(actions);
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
        resetChanged(true);
        QStandardItemModel* const model = m_pPageIndex->indexModel();
        if (model->rowCount() > 1)
            m_pPageIndex->setCurrentIndex(model->index(1, 0));
        qDebug() << "CAdminPage::loadPageDefinition() end";
        return true;
    }

    // The message is shown with the arrow; the caller's cursors come back after it.
    QList<QCursor> cursors;
    while (QCursor* cursor = QApplication::overrideCursor())
    {
        cursors.prepend(*cursor);
        QApplication::restoreOverrideCursor();
    }
    const QString text = loadedXmlDeprecated()
                             ? loadedXmlDeprecated()->message()
                             : tr("Failed to parse XML content.") + QStringLiteral("\n\n") +
                                   tr("Details:") + QStringLiteral("\n") + error;
    showWarning(text);
    for (const QCursor& cursor : qAsConst(cursors))
        QApplication::setOverrideCursor(cursor);
    clearUserInterface();
    // Nothing of the refused definition stays: no title, no deprecation record.
    m_sDocumentTitle.clear();
    setLoadedXmlDeprecated(nullptr);
    refreshTitle();
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
    const bool loaded = loadCustomizationBytes(input.readAll(), importMode, nullptr);
    if (loaded && !importMode)
        m_configurationFile = current;
    return loaded;
}

bool CAdminPage::loadCustomizationBytes(const QByteArray& bytes, bool importMode, CPackage* package)
{
    TiXmlDocument document;
    QString error;
    CXmlDefinitionReader::read(bytes, document, error);
    TiXmlElement* const root = document.RootElement();
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

    if (!importMode)
    {
        CPackage* source = package;
        if (!source)
        {
            const char* sourcePath = root->Attribute("source");
            source = CCopyFileThread::loadPackage(
                QFileInfo(QString::fromUtf8(sourcePath ? sourcePath : "")));
        }
        if (!tryOpen(source, true, false))
            return false;
        const char* lastSaveFile = root->Attribute("lastSaveFile");
        m_lastPublishedFile = lastSaveFile && *lastSaveFile
                                  ? QFileInfo(QString::fromUtf8(lastSaveFile))
                                  : QFileInfo();
    }

    if (TiXmlElement* properties = root->FirstChildElement("properties"))
    {
        for (TiXmlElement* property = properties->FirstChildElement(); property;
             property = property->NextSiblingElement())
        {
            if (QString::fromUtf8(property->Value()) != QLatin1String("property"))
                continue;
            const char* valueAttribute = property->Attribute("value");
            const char* text = property->GetText();
            const QString value =
                QString::fromUtf8(valueAttribute ? valueAttribute : (text ? text : ""));
            const char* name = property->Attribute("name");
            const char* widgetName = property->Attribute("widget");
            const QString propertyName = QString::fromUtf8(name ? name : "");
            const QList<CXmlObject*> objects =
                findChildObjects(QString::fromUtf8(widgetName ? widgetName : ""));
            for (CXmlObject* object : objects)
            {
                if (object->property() == propertyName)
                    object->setValue(value);
            }
        }
    }
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

bool CAdminPage::saveXMLToFile(const QByteArray& fileName,
                               const QMultiMap<QString, CXmlObject*>& properties) const
{
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", "yes"));
    TiXmlElement* const root = new TiXmlElement("AdminCustomization");
    root->SetAttribute("version", "1.0");
    root->SetAttribute(
        "source", QDir::toNativeSeparators(m_sourcePackageFile.filePath()).toUtf8().constData());
    root->SetAttribute(
        "lastSaveFile",
        QDir::toNativeSeparators(m_lastPublishedFile.filePath()).toUtf8().constData());
    if (!m_sourcePackageFile.filePath().isEmpty())
    {
        const std::unique_ptr<CPackage> source(CCopyFileThread::loadPackage(m_sourcePackageFile));
        if (source)
        {
            root->SetAttribute(
                "productVersion",
                QString::fromStdWString(source->version().toString()).toUtf8().constData());
            root->SetAttribute("productName", source->product().toUtf8().constData());
        }
    }
    document.LinkEndChild(root);
    TiXmlElement* const list = new TiXmlElement("properties");
    root->LinkEndChild(list);
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        TiXmlElement* const property = new TiXmlElement("property");
        property->SetAttribute("name", it.key().toUtf8().constData());
        property->SetAttribute("widget", it.value()->name().toUtf8().constData());
        const QString value = it.value()->getValue();
        if (!value.isEmpty())
            property->LinkEndChild(new TiXmlText(value.toUtf8().constData()));
        list->LinkEndChild(property);
    }
    return document.SaveFile(fileName.constData());
}

bool CAdminPage::trySave(const QFileInfo& file)
{
    const QString path = QDir::toNativeSeparators(file.filePath());
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    const bool saved = saveXMLToFile(path.toUtf8(), collectProperties(false));
    QApplication::restoreOverrideCursor();
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
        CArrowCursor arrow;
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
    QString proposed = QDir(directory).filePath(configurationDisplayName());
    if (!proposed.contains(QLatin1Char('.')))
        proposed += QStringLiteral(".xml");
    QString chosen = QFileDialog::getSaveFileName(this, tr("Save file..."), proposed,
                                                  tr("Configuration Files (*.xml)"));
    if (chosen.isEmpty())
        return false;
    if (!chosen.endsWith(QLatin1String(".xml")))
        chosen += QStringLiteral(".xml");
    m_configurationFile = QFileInfo(chosen);
    const bool saved = trySave(m_configurationFile);
    if (saved)
    {
        resetChanged(false);
        addRecentFile(m_configurationFile.absoluteFilePath());
        m_sOpenedPath = chosen;
    }
    return saved;
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
        CArrowCursor arrow;
        answer = QMessageBox::question(
            this, m_sDocumentTitle,
            tr("Do you want to save your changes to %1?").arg(configurationDisplayName()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    }
    if (answer == QMessageBox::Yes)
    {
        const bool saved =
            m_configurationFile.filePath().isEmpty() ? trySaveAs() : trySave(m_configurationFile);
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
