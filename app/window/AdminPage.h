#pragma once

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/PropertyText.h"

#include <QFileInfo>
#include <QList>
#include <QMainWindow>
#include <QMultiMap>
#include <QStringList>

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QMimeData;
class QProgressDialog;
class QPushButton;
class QTextBrowser;
class CCopyFileThread;
class CFieldReset;
class CIndexLink;
class CPackage;
class CPackagerThread;
class CPage;
class CPageHolder;
class CPageIndex;
class CPublishFlow;
class CPublishSigning;
class CRecentFiles;
class CSaveFlow;
class CUndoHistory;
class CWelcomePage;

// The main window: a view of the one open document. It is the root of the page
// tree (what the root element and its filters mean is the document root's), and
// holds what only a window has: menus, the page index and holder on screen, the
// details area, the dialogs around opening, saving and publishing, and the workers.
// The document itself (values, files, publishing) is the GUI-free CDocument.
class CAdminPage : public QMainWindow, public CDocumentRoot
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

    // "validate" actions also answer the validatePublish signal.
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                   QString& error) override;
    void onMouseOverWidgetImpl(const QString& text) override;
    QWidget* widget() const override;
    CPageHolder* pageHolder() const override { return m_pPageHolder; }
    CPageIndex* pageIndex() const override { return m_pPageIndex; }
    // Emits validatePublish.
    void runValidateActions() override;

    CDocument& document() const { return *m_pDocument; }
    // The undo history of the fields' values, and their resets.
    CUndoHistory& undoHistory() const { return *m_pUndoHistory; }
    CFieldReset& fieldReset() const { return *m_pFieldReset; }
    // Resetting the root's changed flag (a save, a load) marks the values as saved.
    void resetChanged(bool recursive) override;

    // Opens package (owned from now on) as the document.
    bool tryOpen(CPackage* package, bool loadAsConfiguration, bool rememberInRecent);
    // Replaces the pages with the page definition in bytes; shows why it failed.
    bool loadPageDefinition(const QByteArray& bytes);
    // Saved values of a customization file; page definitions are loaded as such.
    bool loadCustomizationFile(const QFileInfo& file, bool importMode);

    // Every installation property of the tree, by property name; with onlySet,
    // only those with a value or allowed to be empty.
    QMultiMap<QString, CXmlObject*> collectProperties(bool onlySet) const;
    // The entries of properties as the customization file and publishing take them;
    // without withSecrets, secret values are marked left out instead.
    static QList<CCustomizationFile::CEntry>
    entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets = true);
    // Writes a customization file with the values of the document; without
    // withSecrets, secret values are left out.
    bool saveXMLToFile(const QByteArray& fileName, bool withSecrets = true) const;

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
    const QStringList& recentFiles() const;

    // The configuration file's name, or "Untitled".
    QString configurationDisplayName() const;
    const QFileInfo& sourcePackageFile() const { return m_pDocument->sourceFile(); }
    const QFileInfo& configurationFile() const { return m_pDocument->configurationFile(); }
    const QFileInfo& lastPublishedFile() const { return m_pDocument->lastPublishedFile(); }
    QProgressDialog* progressDialog() const;
    // A publish is under way (its copy runs on a worker).
    bool isPublishing() const;
    CPackagerThread* packagerThread() const { return m_pPackagerThread; }
    CCopyFileThread* copyThread() const { return m_pCopyThread; }
    CPublishSigning* signing() const { return m_pSigning; }
    const QString& openedPath() const { return m_sOpenedPath; }
    const QString& lastOpenedDirectory() const { return m_sLastOpenedDir; }
    CWelcomePage* welcomePage() const { return m_pWelcomePage; }
    // The package the document was loaded from (for a customization file, its
    // installer), or null.
    CPackage* currentPackage() const { return m_pDocument->package(); }

    void showWarning(const QString& text);
    void showInformation(const QString& text);
    // The information that output was published, with a way to show it in the
    // file manager.
    void showPublished(const QString& text, const QString& output);
    void setOpenedPath(const QString& path) { m_sOpenedPath = path; }
    void refreshTitle();

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
    // Edit > Reset Page to Defaults: the page shown.
    void resetShownPage();
    // The publishing slots: forwards to the publish sequence, which the workers
    // report to.
    void onProgress();
    void copyFinished(const QFileInfo& src, const QFileInfo& dst);
    void copyError(const QFileInfo& src, const QFileInfo& dst);
    void copyCanceled();
    void removeDirError(const QFileInfo& file);
    void onPackagerProgress(qint64 iCurrent, qint64 iTotal);
    void onPackageOpenFileError(const QString& path);
    void onPackageReadFileError(const QString& path);
    void onPackageWriteFileError(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Installers dropped on a page's fields open as on the window; Publish's shortcut
    // wins over a text field's own use of the keys.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The document root's view hooks.
    void showDocumentIcon(const QString& path) override;
    void documentTitleChanged() override;
    void documentCleared() override;
    void documentChanged(CXmlObject* source) override;
    void quitRequested() override;

private:
    void loadStyleSheets();
    void createMenus();
    void createLayout();
    void createWorkers();
    void makeReasonableSize();
    // Grows the window, within the screen, until the shown page needs no scrolling.
    void fitShownPage();
    // Shows the window when it has never been shown, so a message has it behind.
    void showForMessage();
    // After a definition loaded: the fields take drops and Publish's shortcut.
    void definitionLoaded();
    // Captions give up mnemonic letters that open a menu of the menu bar.
    void keepMenuMnemonics();
    // Fields that no caption names as buddy take the name of the caption before them.
    void nameUnlabelledFields();
    // Where text's mnemonic marker ("&" before its letter) is, or -1.
    static int mnemonicAt(const QString& text);
    // Lists what the fields made of the values just loaded, if anything.
    void showLoadNotes();
    // Asks to save a changed document; false when the command must stop.
    // closing leaves the changed flag as it is; importing keeps AdminConfig.xml documents.
    bool promptToSave(bool closing, bool importing = false);
    // Save, Save As, Import and Publish need a loaded document from a known file.
    void updateDocumentActions(bool loaded);
    // A file of the recent-files list was chosen.
    void openRecentFile(const QString& path);
    void writeLastOpenedDirectory();
    void updateResetPageAction();

    CDocument* m_pDocument = nullptr;
    bool m_bFittedOnFirstShow = false;
    // The file named when the window was made is being opened.
    bool m_bOpeningFirstFile = false;
    QString m_sOpenedPath;
    QString m_sLastOpenedDir;
    CRecentFiles* m_pRecentFiles = nullptr;

    // Widgets and workers.
    QAction* m_pSaveAction = nullptr;
    QAction* m_pSaveAsAction = nullptr;
    QAction* m_pImportAction = nullptr;
    QAction* m_pPublishAction = nullptr;
    QAction* m_pReviewAction = nullptr;
    QAction* m_pResetPageAction = nullptr;
    CUndoHistory* m_pUndoHistory = nullptr;
    CFieldReset* m_pFieldReset = nullptr;
    QMenu* m_pOpenRecentMenu = nullptr;
    QPushButton* m_pPublishButton = nullptr;
    QGridLayout* m_pGridLayout = nullptr;
    CPageIndex* m_pPageIndex = nullptr;
    CPageHolder* m_pPageHolder = nullptr;
    CWelcomePage* m_pWelcomePage = nullptr;
    QLabel* m_pDetailsLabel = nullptr;
    QTextBrowser* m_pDetails = nullptr;
    CCopyFileThread* m_pCopyThread = nullptr;
    CPackagerThread* m_pPackagerThread = nullptr;
    CPublishSigning* m_pSigning = nullptr;
    CPublishFlow* m_pPublishFlow = nullptr;
    CSaveFlow* m_pSaveFlow = nullptr;
};
