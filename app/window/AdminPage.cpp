#include "AdminPage.h"

#include "AboutDialog.h"
#include "OpenFileDialog.h"
#include "PageSearch.h"
#include "PublishFlow.h"
#include "SaveCustomizationDialog.h"
#include "WelcomePage.h"

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
#include <QShowEvent>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
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
    createWorkers();

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
    m_pPublishFlow = new CPublishFlow(*this);

    QString error;
    if (initActions(error) != ParseSuccess)
        qWarning().noquote() << "CAdminPage::CAdminPage(): " + error;
    keepBuiltState({this, m_pPageHolder, m_pPageIndex});

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
        QMessageBox box(QMessageBox::Warning, documentTitle(), text, QMessageBox::Ok, this);
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
    QMessageBox box(QMessageBox::Warning, documentTitle(), html, QMessageBox::Ok, this);
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
}

void CAdminPage::documentChanged(CXmlObject* source)
{
    m_pDocument->fieldChanged(source);
    refreshTitle();
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
        m_bOpenedFromPackage = !path.endsWith(QLatin1String(".xml"));
    }
    m_pOpenRecentMenu->setEnabled(!m_lRecentFiles.isEmpty());
    if (loaded)
        showLoadNotes();
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
    QStandardItemModel* const model = m_pPageIndex->indexModel();
    if (model->rowCount() > 1)
        m_pPageIndex->setCurrentIndex(model->index(1, 0));
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
    if (!loaded && !message.isEmpty())
        showWarning(message);
    refreshTitle();
    return loaded;
}

void CAdminPage::showLoadNotes()
{
    const QList<CDocument::CValueNote>& notes = m_pDocument->loadNotes();
    if (notes.isEmpty())
        return;
    QStringList lines;
    for (const CDocument::CValueNote& note : notes)
    {
        const QString value = note.m_bSecret
                                  ? tr("the secret value")
                                  : tr("the value %1").arg(CShownText::quoted(note.m_sValue));
        switch (note.m_kind)
        {
        case CDocument::CValueNote::Adjusted:
            lines << tr("%1 (%2): %3 %4.")
                         .arg(note.m_sProperty, note.m_sWidget, value, note.m_sReason);
            break;
        case CDocument::CValueNote::Refused:
            lines << tr("%1 (%2): %3 is not taken: it %4. The field keeps %5; Publish stays "
                        "refused until the field is changed.")
                         .arg(note.m_sProperty, note.m_sWidget, value, note.m_sReason,
                              note.m_bSecret ? tr("its own value")
                                             : CShownText::quoted(note.m_sNewValue));
            break;
        case CDocument::CValueNote::Unknown:
            lines << tr("%1 (%2): %3 is ignored: the installer's page definition has no such "
                        "field.")
                         .arg(note.m_sProperty, note.m_sWidget, value);
            break;
        }
    }
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

bool CAdminPage::trySave(const QFileInfo& file)
{
    const QString path = QDir::toNativeSeparators(file.filePath());
    std::optional<COverrideCursor> waiting(std::in_place, Qt::WaitCursor);
    const bool saved = m_pDocument->saveTo(path, m_pDocument->secrets().storeSecrets());
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
    if (m_pDocument->sourceFile().suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0)
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        QMessageBox::information(
            this, documentTitle(),
            tr("Note: A saved configuration file can only be re-opened by Tessary. You must "
               "choose 'Publish' to generate a file to be used with %1.")
                .arg(m_pDocument->sourceFile().fileName()));
    }
    if (CDocument::isTestDefinition(m_pDocument->sourceFile().filePath()))
    {
        showWarning(tr("The AdminConfig.xml can not be saved or published. It is only used for "
                       "testing purposes."));
        return false;
    }
    const QString directory = m_pDocument->configurationFile().filePath().isEmpty()
                                  ? m_sLastOpenedDir
                                  : m_pDocument->configurationFile().absolutePath();
    // A page definition's own name is not offered: saving there would replace it.
    QString proposed = QDir(directory).filePath(
        m_pDocument->configurationIsCustomization() ? configurationDisplayName() : tr("Untitled"));
    if (!proposed.contains(QLatin1Char('.')))
        proposed += QStringLiteral(".xml");
    CSaveCustomizationDialog dialog(this, tr("Save file..."), proposed,
                                    tr("Configuration Files (*.xml)"),
                                    m_pDocument->secrets().storeSecrets());
    dialog.exec();
    QString chosen = dialog.chosenPath();
    if (chosen.isEmpty())
        return false;
    m_pDocument->secrets().setStoreSecrets(dialog.storeSecrets());
    if (!chosen.endsWith(QLatin1String(".xml")))
        chosen += QStringLiteral(".xml");
    m_pDocument->setConfigurationFile(QFileInfo(chosen), true);
    const bool saved = trySave(m_pDocument->configurationFile());
    if (saved)
    {
        resetChanged(false);
        addRecentFile(m_pDocument->configurationFile().absoluteFilePath());
        m_sOpenedPath = chosen;
    }
    return saved;
}

bool CAdminPage::hasSaveTarget() const
{
    return !m_pDocument->configurationFile().filePath().isEmpty() &&
           m_pDocument->configurationIsCustomization();
}

bool CAdminPage::promptToSave(bool closing, bool importing)
{
    // Definitions opened directly are for testing and never saved.
    if (!importing && CDocument::isTestDefinition(m_pDocument->sourceFile().filePath()))
        resetChanged(false);
    if (!isChanged())
        return true;
    QMessageBox::StandardButton answer;
    {
        const COverrideCursor arrow(Qt::ArrowCursor);
        answer = QMessageBox::question(
            this, documentTitle(),
            tr("Do you want to save your changes to %1?").arg(configurationDisplayName()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    }
    if (answer == QMessageBox::Yes)
    {
        const bool saved =
            hasSaveTarget() ? trySave(m_pDocument->configurationFile()) : trySaveAs();
        if (!saved)
            return false;
        addRecentFile(m_pDocument->configurationFile().absoluteFilePath());
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
        if (trySave(m_pDocument->configurationFile()))
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
    switch (CPublisher::writeBundleFiles(bundle, properties, &failed))
    {
    case CPublisher::BundleDirectoryFailed:
        showWarning(tr("Tessary is unable to create the directory \"%1\".  Verify that the disk "
                       "isn't full, remove write-protection at this location, and then try "
                       "again.")
                        .arg(QDir::toNativeSeparators(failed)));
        return false;
    case CPublisher::BundleFileFailed:
        showWarning(tr("Tessary is unable to write to \"%1\".  Verify that the disk isn't "
                       "full, remove write-protection on this file, and then try again.")
                        .arg(QDir::toNativeSeparators(failed)));
        return false;
    case CPublisher::BundleWritten:
        break;
    }
    return true;
}

void CAdminPage::showInformation(const QString& text)
{
    const COverrideCursor arrow(Qt::ArrowCursor);
    QMessageBox::information(this, documentTitle(), text, QMessageBox::Ok);
}

QProgressDialog* CAdminPage::progressDialog() const
{
    return m_pPublishFlow->progressDialog();
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
    m_pPublishFlow->publisher().onPackagerError(
        QStringLiteral("Tessary is unable to open \"%1\".  Verify that the file exists and that "
                       "is has read permissions, and then try again."),
        path);
}

void CAdminPage::onPackageReadFileError(const QString& path)
{
    m_pPublishFlow->publisher().onPackagerError(
        QStringLiteral("Tessary is unable to read \"%1\". Verify that the file exists and that "
                       "it has read permissions, and then try again."),
        path);
}

void CAdminPage::onPackageWriteFileError(const QString& path)
{
    m_pPublishFlow->publisher().onPackagerError(
        QStringLiteral("Cannot write to file \"%1\".  Close the file if it's open, verify that "
                       "the disk isn't full, remove write-protection on the file, and then try "
                       "again."),
        path);
}

// ---------------------------------------------------------------------------
// Recent files

void CAdminPage::addRecentFile(const QString& path)
{
    if (path.isEmpty() || CDocument::isTestDefinition(path))
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
    else if (!m_lRecentFiles.contains(path) && !CDocument::isTestDefinition(path) &&
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
    if (CDocument::isReadable(path))
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
