#pragma once

#include "app/document/CustomizationFile.h"
#include "app/document/PropertyDefaults.h"
#include "app/document/PropertyText.h"
#include "app/document/SecretKeeper.h"
#include "shared/XmlWidgets/OverrideCursor.h"

#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlValidator.h"

#include <QFileInfo>
#include <QList>
#include <QMainWindow>
#include <QMultiMap>
#include <QPointer>
#include <QStringList>
#include <optional>

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QMimeData;
class QProgressDialog;
class QPushButton;
class QTemporaryFile;
class QTextBrowser;
class QTimer;
class CCopyFileThread;
class CCustomWidgetFactory;
class CDmgPackage;
class CIndexLink;
class CPackage;
class CPackagerThread;
class CPage;
class CPageHolder;
class CPageIndex;
class CPublishSigning;
class CWelcomePage;

// The main window and the controller of the one open document: a page
// definition taken from an installer package, turned into pages, plus the values
// the administrator enters. It is the root of the page tree and the framework's
// element validator.
class CAdminPage : public QMainWindow, public CXmlContainer, public CXmlValidator
{
    Q_OBJECT

public:
    enum GenerateStyle
    {
        ShellStyle = 0,
        JavaScriptStyle = 1
    };

    // Opens file (when not empty) before returning. options are the lower-cased
    // command-line options, consulted by "showflag".
    CAdminPage(const QString& sFile, const QStringList& options,
               CXmlContainer* parentContainer = nullptr, QWidget* parent = nullptr);
    ~CAdminPage() override;

    // The root element: needs "version"; sets the icon and the document title.
    int parse(TiXmlElement* element, QString& error) override;
    // "quit" closes the window, "cancelpublish" stops a publish.
    bool performAction(const QString& slot, const CActionItem* action) override;
    // "index" and "pageholder" are the window's own, already built.
    CXmlWidget* createWidget(const QString& type, QString& error) override;
    int addWidget(const QString& type, CXmlWidget* widget, TiXmlElement* element,
                  QString& error) override;
    // "validate" actions run when a publish starts.
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    void changeNotification(CXmlObject* pChild, CXmlObject* pChangedObject) override;
    void onMouseOverWidgetImpl(const QString& text) override;
    QWidget* widget() const override;
    // Filters elements by "package" (the package's OS) and "showflag" (the options).
    int validateXml(TiXmlElement* element, QString& error) override;

    // Opens package (owned from now on) as the document.
    bool tryOpen(CPackage* package, bool loadAsConfiguration, bool rememberInRecent);
    // Replaces the pages with the page definition in bytes; shows why it failed.
    bool loadPageDefinition(const QByteArray& bytes);
    // Saved values of a customization file; page definitions are loaded as such.
    bool loadCustomizationFile(const QFileInfo& file, bool importMode);
    bool loadCustomizationBytes(const QByteArray& bytes, bool importMode, CPackage* package);

    // Every installation property of the tree, by property name; with onlySet,
    // only those with a value or allowed to be empty.
    QMultiMap<QString, CXmlObject*> collectProperties(bool onlySet) const;
    // The entries of properties as the customization file and publishing take them;
    // without withSecrets, secret values are marked left out instead.
    static QList<CCustomizationFile::CEntry>
    entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets = true);
    // Writes a customization file with the values of properties; without
    // withSecrets, secret values are left out.
    bool saveXMLToFile(const QByteArray& fileName,
                       const QMultiMap<QString, CXmlObject*>& properties,
                       bool withSecrets = true) const;

    // The values that publishing hands on: the set values without the "$PKG_" and
    // "$AI_" names, by property name.
    CPropertyText::Properties publishedProperties() const;
    // The published values as shell "export" lines or as the Distribution's
    // JavaScript block; any other style gives an empty text.
    QString generateProperties(GenerateStyle style) const;
    // Adds Contents/Resources/preinstall and properties to a copied bundle package;
    // shows why when it cannot.
    bool writeBundleFiles(const QDir& bundle, const QString& properties);

    void addRecentFile(const QString& path);
    void removeRecentFile(const QString& path);
    const QStringList& recentFiles() const { return m_lRecentFiles; }

    const QString& documentTitle() const { return m_sDocumentTitle; }
    // The configuration file's name, or "Untitled".
    QString configurationDisplayName() const;
    const QFileInfo& sourcePackageFile() const { return m_sourcePackageFile; }
    const QFileInfo& configurationFile() const { return m_configurationFile; }
    const QFileInfo& lastPublishedFile() const { return m_lastPublishedFile; }
    QProgressDialog* progressDialog() const { return m_pProgress; }
    CPackagerThread* packagerThread() const { return m_pPackagerThread; }
    const QString& openedPath() const { return m_sOpenedPath; }
    const QString& lastOpenedDirectory() const { return m_sLastOpenedDir; }
    const QStringList& options() const { return m_lOptions; }
    CPageIndex* pageIndex() const { return m_pPageIndex; }
    CPageHolder* pageHolder() const { return m_pPageHolder; }
    CWelcomePage* welcomePage() const { return m_pWelcomePage; }
    // The package the document was loaded from (for a customization file, its
    // installer), or null.
    CPackage* currentPackage() const { return m_pCurrentPackage; }

signals:
    void openFile(const QString& sFile);
    void removeDirectory(const QString& sDir);
    void copyDirectory(const QString& src, const QString& dst, const QStringList& ignoreList);
    void copyFlatPackage(const QString& src, const QString& dst, const QString& properties,
                         const QStringList& ignoreList, const QString& jsProperties,
                         const QString& saveAsXmlFile);
    void validatePublish();

public slots:
    void open();
    void open(const QString& sPath);
    void open(CPackage* pPackage);
    void openRecent();
    void addOpenRecentMenu();
    void addOpenRecentList(CPackage* package);
    void about();
    void pageSelected(CIndexLink* pCurrent);
    void pageAdded(CPage* pPage);
    void pageModified(CPage* pPage);
    void save();
    void saveAs();
    void import();
    void publish();
    // Shows what the document changes (Publish > Review customizations...).
    void review();
    void onProgress();
    void copyFinished(const QFileInfo& src, const QFileInfo& dst);
    void copyError(const QFileInfo& src, const QFileInfo& dst);
    void copyCanceled();
    void removeDirError(const QFileInfo& file);
    void onPackagerProgress(qint64 iCurrent, qint64 iTotal);
    void onPackageOpenFileError(const QString& path);
    void onPackageReadFileError(const QString& path);
    void onPackageWriteFileError(const QString& path);

private slots:
    // A flat-package or directory copy failed as a whole.
    void copyFailed(const QFileInfo& src, const QFileInfo& dst);
    void packagerFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Installers dropped on a page's fields open as on the window; Publish's shortcut
    // wins over a text field's own use of the keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_bFittedOnFirstShow = false;
    void loadStyleSheets();
    void createMenus();
    void createLayout();
    void makeReasonableSize();
    // Grows the window, within the screen, until the shown page needs no scrolling.
    void fitShownPage();
    void refreshTitle();
    // Asks to save a changed document; false when the command must stop.
    // closing leaves the changed flag as it is; importing keeps AdminConfig.xml documents.
    bool promptToSave(bool closing, bool importing = false);
    bool trySave(const QFileInfo& file);
    // Save may write the configuration file in place: it is a customization file.
    bool hasSaveTarget() const;
    bool trySaveAs();
    // After Import: what became of the values of a customization made for another
    // release of the installer.
    void showMigrationReport(const QString& path);
    // Removes every page and index row of the last document.
    void clearUserInterface();
    // Deletes the pages of replaced documents once no action is running any more.
    void deleteRetiredPages();
    // Takes ownership of package unless it already belongs to the open document.
    void adopt(CPackage* package);
    bool ownsPackage(const CPackage* package) const;
    // Save, Save As, Import and Publish need a loaded document from a known file.
    void updateDocumentActions(bool loaded);
    void writeLastOpenedDirectory();
    // The supported local path a drag carries, or empty.
    static QString droppedPath(const QMimeData* data);
    void showWarning(const QString& text);
    void showInformation(const QString& text);
    QString unableToDeleteText(const QString& path) const;
    QString unableToWriteText(const QString& path) const;
    // A path inside the bundle being built, as it is named in the output.
    QString publishedPath(const QString& path) const;
    // Replaces the output with the complete bundle at staged; shows why when it cannot.
    bool moveBundleIntoPlace(const QString& staged);
    // Has the worker remove the bundle's staging directory (and a replaced output).
    void discardBundleStaging();
    static bool samePath(const QString& first, const QString& second);
    void publishMacPackage();
    void publishScriptPackage();
    // Ends the macOS flow: timer, dialog, cursor and the values file.
    void endPublish();
    void discardValuesFile();
    void setWaitCursor(bool wait);
    // The first failure of a script-installer copy stops it and is shown.
    void packagerError(const QString& text, const QString& path);

    // Document state.
    QFileInfo m_sourcePackageFile;
    QFileInfo m_configurationFile;
    QFileInfo m_lastPublishedFile;
    QString m_sOpenedPath;
    QString m_sLastOpenedDir;
    QString m_sPackageOS;
    bool m_bLoading = false;
    QString m_sDocumentTitle;
    QStringList m_lOptions;
    CPackage* m_pCurrentPackage = nullptr;
    // The package object of the open document (the current package or the one
    // that wraps it).
    CPackage* m_pOwnedPackage = nullptr;
    bool m_bPublishAllowed = true;
    bool m_bOpenedFromPackage = true;
    // The configuration file is a customization file the administrator chose or
    // opened; a page definition opened directly is never written over by Save.
    bool m_bConfigurationIsCustomization = false;
    // The customization documents (by digest, with their file) being followed to
    // their installer by nested opens, outermost first; and the file being loaded.
    QList<QPair<QByteArray, QString>> m_lCustomizationChain;
    QString m_sLoadingFile;
    QList<QTemporaryFile*> m_lTemporaryFiles;
    // Whether secrets go into the customization file, and which ones it lacks.
    CSecretKeeper m_secrets;
    // The values as loaded, before any customization: what the review compares with.
    CPropertyDefaults m_defaults;
    // What a definition's common attributes may change on the window and on its
    // pre-built page holder and index, as built; put back with each new document.
    struct CBuiltWidget
    {
        QWidget* widget;
        QString objectName;
        QString styleSheet;
        bool enabled;
        bool hidden;
    };
    QList<CBuiltWidget> m_lBuiltWidgets;
    // Pages of a replaced document kept until the actions running then have returned.
    QList<QPointer<QWidget>> m_lRetiredPages;
    // Publishing state: a macOS-flow copy is on the worker; the disk image it
    // mounted; the values file handed to it; a script copy runs.
    bool m_bPublishing = false;
    CDmgPackage* m_pPublishImage = nullptr;
    QTemporaryFile* m_pValuesFile = nullptr;
    bool m_bScriptPublishing = false;
    bool m_bScriptFailed = false;
    bool m_bScriptComplete = false;
    QString m_sScriptStaging;
    // The directory beside the output in which a bundle is built, and the output.
    QString m_sBundleStaging;
    // Signatures: the opened installer's, and the identity that signs what is published.
    CPublishSigning* m_pSigning = nullptr;
    // The worker's reason for the publish that failed last, if it gave one.
    QString m_sPublishProblem;
    QString m_sBundleOutput;
    QString m_sScriptOutput;
    qint64 m_iProgressScale = 1;
    std::optional<COverrideCursor> m_waitCursor;
    QStringList m_lRecentFiles;
    const int m_iRecentFilesLimit = 10;

    // Widgets and workers.
    QAction* m_pSaveAction = nullptr;
    QAction* m_pSaveAsAction = nullptr;
    QAction* m_pImportAction = nullptr;
    QAction* m_pPublishAction = nullptr;
    QAction* m_pReviewAction = nullptr;
    QMenu* m_pOpenRecentMenu = nullptr;
    QPushButton* m_pPublishButton = nullptr;
    QGridLayout* m_pGridLayout = nullptr;
    CPageIndex* m_pPageIndex = nullptr;
    CPageHolder* m_pPageHolder = nullptr;
    CWelcomePage* m_pWelcomePage = nullptr;
    QLabel* m_pDetailsLabel = nullptr;
    QTextBrowser* m_pDetails = nullptr;
    QProgressDialog* m_pProgress = nullptr;
    QTimer* m_pProgressTimer = nullptr;
    CCopyFileThread* m_pCopyThread = nullptr;
    CPackagerThread* m_pPackagerThread = nullptr;
    CCustomWidgetFactory* m_pFactory = nullptr;
};
