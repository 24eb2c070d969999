#include "ActionTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace ActionTest;

namespace
{
QString testPath(const QString& name)
{
    return QDir(QString::fromStdString(TestSupport::testDirectory())).filePath(name);
}

// Takes the desktop's open requests instead of launching applications.
class CUrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> m_lOpened;

public slots:
    void open(const QUrl& url) { m_lOpened.append(url); }
};

class ActionDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CXmlContainer::m_pStaticWidgetFactory = &m_factory;
        journal().clear();
    }

    // Loads one action of the recorder "btn" with success and failure branches
    // into the journal, next to the recorder "field"; the window is "Root title".
    CActionItem* loadAction(const QString& attributes)
    {
        m_root = loadBranchingAction(attributes);
        m_root->widget()->setWindowTitle("Root title");
        return find<CActionItem>(m_root.get(), "act");
    }

    // Fires the action; returns the outcome reported (false when none came).
    bool run()
    {
        QSignalSpy done(find<CActionItem>(m_root.get(), "act"), &CActionItem::actionDone);
        emit find<CRecorder>(m_root.get(), "btn")->fire();
        return done.count() == 1 && done.first().first().toBool();
    }

    CXmlObject* field() { return find<CXmlObject>(m_root.get(), "field"); }

    // What a file dialog showed.
    struct FileDialogSeen
    {
        QString caption;
        QString directory;
        QStringList filters;
        bool foldersOnly = false;
    };

    // Answers the next dialog, which must be a file dialog, with path; notes what it
    // showed in seen.
    void chooseInNextFileDialog(const QString& path, FileDialogSeen& seen)
    {
        m_modal.answerNext(
            [path, &seen](QDialog* modal)
            {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                ASSERT_NE(nullptr, dialog);
                seen.caption = dialog->windowTitle();
                seen.directory = dialog->directory().absolutePath();
                seen.filters = dialog->nameFilters();
                seen.foldersOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
                TestSupport::CModalAnswerer::choose(dialog, path);
            });
    }

    CTestFactory m_factory;
    std::unique_ptr<CTestRoot> m_root;
    // Answers only what a test asks it to, and drops what it was not shown.
    TestSupport::CModalAnswerer m_modal{TestSupport::CModalAnswerer::HandlersOnly};
};

TEST_F(ActionDialogTest, MessageBoxShowsItsTextOverTheWindowAndSucceeds)
{
    loadAction(R"(slot="messagebox" severity="Warning" msg="Disk is %OS%")");
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
    m_modal.answerNext(
        [&](QWidget* modal)
        {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(nullptr, box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            parent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        });
    EXPECT_TRUE(run());
    EXPECT_EQ("Root title", title);
    EXPECT_EQ("Disk is Mac", text);
    EXPECT_EQ(QMessageBox::Warning, icon);
    EXPECT_EQ(m_root->widget(), parent);
    EXPECT_EQ(QStringList({"field:success"}), journal());
}

TEST_F(ActionDialogTest, DiscardingTheTreeWhileABoxIsOpenIsSafe)
{
    for (const char* slot : {"messagebox", "question"})
    {
        loadAction(QString(R"(slot="%1" severity="error" msg="Busy")").arg(slot));
        m_modal.answerNext([this](QWidget*) { m_root.reset(); });
        emit find<CRecorder>(m_root.get(), "btn")->fire();
        EXPECT_EQ(nullptr, m_root);
        EXPECT_TRUE(journal().isEmpty());
    }
}

TEST_F(ActionDialogTest, QuestionSucceedsOnYesAndDefaultsAsDeclared)
{
    struct Case
    {
        const char* attributes;
        QMessageBox::StandardButton expectedDefault;
        QMessageBox::StandardButton answer;
        bool result;
    } cases[] = {
        {R"(slot="question" title="Ask" severity="error" msg="Go?" defaultAnswer="yes")",
         QMessageBox::Yes, QMessageBox::Yes, true},
        {R"(slot="question" title="Ask" severity="error" msg="Go?")", QMessageBox::No,
         QMessageBox::Yes, true},
        {R"(slot="question" title="Ask" severity="information" msg="Go?" defaultAnswer="yes")",
         QMessageBox::Yes, QMessageBox::No, false},
    };
    for (const Case& c : cases)
    {
        loadAction(QString::fromUtf8(c.attributes));
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QString title;
        m_modal.answerNext(
            [&](QWidget* modal)
            {
                auto* box = qobject_cast<QMessageBox*>(modal);
                ASSERT_NE(nullptr, box);
                defaultButton = box->standardButton(box->defaultButton());
                title = box->windowTitle();
                box->button(c.answer)->click();
            });
        EXPECT_EQ(c.result, run()) << c.attributes;
        EXPECT_EQ(c.expectedDefault, defaultButton) << c.attributes;
        EXPECT_EQ("Ask", title);
    }
}

TEST_F(ActionDialogTest, OpenHandsFilesAndAddressesToTheDesktop)
{
    CUrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QFile(testPath("readme.txt")).open(QIODevice::WriteOnly);

    loadAction(R"(slot="open" file="readme.txt")");
    EXPECT_TRUE(run());
    loadAction(R"(slot="open" url="https://example.com/%LANGUAGE%/" file="readme.txt")");
    EXPECT_TRUE(run());
    loadAction(R"(slot="open" file="missing.txt")");
    EXPECT_FALSE(run());

    EXPECT_EQ(QList<QUrl>({QUrl::fromLocalFile(testPath("readme.txt")),
                           QUrl("https://example.com/" + m_root->language() + "/")}),
              catcher.m_lOpened);
    QDesktopServices::unsetUrlHandler("file");
    QDesktopServices::unsetUrlHandler("https");
}

TEST_F(ActionDialogTest, BrowseFileFillsTheFieldOnlyWhenAFileIsChosen)
{
    ASSERT_TRUE(QDir().mkpath(testPath("docs")));
    QFile(testPath("docs/plan.txt")).open(QIODevice::WriteOnly);

    loadAction(R"x(slot="browsefile" widget="field" title="Pick a plan" filter="Text (*.txt)")x");
    field()->setValue(testPath("docs"));
    FileDialogSeen seen;
    chooseInNextFileDialog(testPath("docs/plan.txt"), seen);
    EXPECT_TRUE(run());
    EXPECT_EQ("Pick a plan", seen.caption);
    EXPECT_EQ(testPath("docs"), seen.directory);
    EXPECT_EQ(QStringList({"Text (*.txt)"}), seen.filters);
    EXPECT_FALSE(seen.foldersOnly);
    EXPECT_EQ(QDir::toNativeSeparators(testPath("docs/plan.txt")), field()->getValue());

    m_modal.answerNext([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_FALSE(run());
    EXPECT_EQ(QDir::toNativeSeparators(testPath("docs/plan.txt")), field()->getValue());
}

TEST_F(ActionDialogTest, BrowseDirOffersFoldersStartingAtTheFieldsValue)
{
    ASSERT_TRUE(QDir().mkpath(testPath("root/target")));
    loadAction(R"(slot="browsedir" widget="field" title="Where to?")");
    field()->setValue(testPath("root"));
    FileDialogSeen seen;
    chooseInNextFileDialog(testPath("root/target"), seen);
    EXPECT_TRUE(run());
    EXPECT_EQ("Where to?", seen.caption);
    EXPECT_EQ(testPath("root"), seen.directory);
    EXPECT_TRUE(seen.foldersOnly);
    EXPECT_EQ(QDir::toNativeSeparators(testPath("root/target")), field()->getValue());
    EXPECT_EQ(QStringList({"field=" + testPath("root"), "field=" + testPath("root/target"),
                           "field:success"}),
              journal());
}
} // namespace

#include "ActionDialogTest.moc"
