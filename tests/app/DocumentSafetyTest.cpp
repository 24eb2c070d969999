#include "AppTestSupport.h"

#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "app/window/CommandLine.h"
#include "tests/support/TestEnvironment.h"

#include "shared/XmlWidgets/PageHolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>
#include <functional>

using namespace AppTest;

namespace
{
// Shows the window and makes it the active one, so that shortcuts reach it.
void activate(CAdminPage& window)
{
    window.show();
    QApplication::setActiveWindow(&window);
    window.activateWindow();
    waitFor([&] { return QApplication::activeWindow() == &window; }, 2000);
}

const char* const kAdminConfigRefused =
    "The AdminConfig.xml can not be saved or published. It is only used for testing purposes.";
} // namespace

class DocumentSafetyTest : public AppFixture
{
};

TEST_F(DocumentSafetyTest, CtrlSNeverWritesOverAPageDefinitionOpenedDirectly)
{
    const QString definition =
        QString::fromStdString(TestSupport::sourceDirectory()) + "/examples/AdminConfig.xml";
    const QString bundle = testPath("safety/Copy.pkg");
    QDir().mkpath(testPath("safety"));
    ASSERT_EQ(0, TestSupport::runCommand(QString("cp -R " +
                                                 shellQuoted(sample("TessarySample-bundle.pkg")) +
                                                 " " + shellQuoted(bundle))
                                             .toStdString()));
    const QString inBundle = bundle + "/Contents/Resources/AdminConfig.xml";
    const QString renamed = writeFile("safety/Definition.xml", bytesOf(definition));

    for (const QString& path : {inBundle, renamed})
    {
        SCOPED_TRACE(path.toStdString());
        const QByteArray before = bytesOf(path);
        ASSERT_EQ(27956, before.size());
        CModalAnswerer answerer(QMessageBox::No);
        CAdminPage window(path, QStringList());
        ASSERT_GT(window.pageHolder()->count(), 1);
        activate(window);
        QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
        ASSERT_TRUE(server);
        server->setFocus();
        QTest::keyClicks(server, QStringLiteral("changed"));
        ASSERT_TRUE(window.isChanged());

        QTest::keyClick(server, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(before, bytesOf(path));
        // The bundle's own definition is refused outright; another name is offered
        // Save As, whose dialog the answerer cancels.
        EXPECT_EQ(path == inBundle ? QStringList{kAdminConfigRefused}
                                   : QStringList{"dialog: Save file..."},
                  answerer.m_lSeen);
        // Closing and answering Yes does not write there either.
        answerer.setAnswer(QMessageBox::Yes);
        answerer.clear();
        window.close();
        EXPECT_EQ(before, bytesOf(path));
        answerer.setAnswer(QMessageBox::No);
        window.close();
    }
}

namespace
{
// A customization file whose installer is source; with a product name and version
// it counts as valid on its own, as files saved by the program do.
QString writeCustomization(const QString& name, const QString& source)
{
    return writeFile(name, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<AdminCustomization "
                           "version=\"1.0\" source=\"" +
                               source.toUtf8() +
                               "\" lastSaveFile=\"\" productVersion=\"2.1.0\" "
                               "productName=\"Loop\"><properties/></AdminCustomization>\n");
}
} // namespace

TEST_F(DocumentSafetyTest, CustomizationFilesLeadingBackToThemselvesAreRefused)
{
    const QString self = testPath("loop/self.xml");
    writeCustomization("loop/self.xml", self);
    const QString a = testPath("loop/a.xml");
    const QString b = writeCustomization("loop/b.xml", a);
    writeCustomization("loop/a.xml", b);
    // An installer whose definition was replaced by a customization naming it.
    const QString bundle = testPath("loop/Damaged.pkg");
    ASSERT_EQ(0, TestSupport::runCommand(QString("cp -R " +
                                                 shellQuoted(sample("TessarySample-bundle.pkg")) +
                                                 " " + shellQuoted(bundle))
                                             .toStdString()));
    writeCustomization("loop/Damaged.pkg/Contents/Resources/AdminConfig.xml", bundle);
    // A chain without a circle, but longer than any real one.
    for (int i = 0; i < 20; ++i)
        writeCustomization(QStringLiteral("loop/chain%1.xml").arg(i),
                           testPath(QStringLiteral("loop/chain%1.xml").arg(i + 1)));

    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    CModalAnswerer answerer;
    CAdminPage window(flat, QStringList());
    const struct
    {
        QString open;
        QStringList named;
    } cases[] = {{self, {self}},
                 {a, {a, b}},
                 {bundle, {bundle}},
                 {testPath("loop/chain0.xml"), {testPath("loop/chain0.xml")}}};
    for (const auto& loop : cases)
    {
        SCOPED_TRACE(loop.open.toStdString());
        answerer.clear();
        window.open(loop.open);
        ASSERT_EQ(1, answerer.m_lSeen.size()) << answerer.m_lSeen.join('\n').toStdString();
        const QString text = answerer.m_lSeen.first();
        EXPECT_TRUE(text.startsWith("Tessary is unable to open \"" + loop.named.first() + "\"."))
            << text.toStdString();
        for (const QString& file : loop.named)
            EXPECT_TRUE(text.contains("\n" + file)) << text.toStdString();
        // The document opened before comes back.
        EXPECT_EQ(flat, window.sourcePackageFile().absoluteFilePath());
        EXPECT_GT(window.pageHolder()->count(), 1);
        EXPECT_EQ(QStringList{flat}, window.recentFiles());
    }
    EXPECT_TRUE(answerer.m_lSeen.first().contains("more than 16 configuration files"));
}

namespace
{
// What a document leaves on the window and its pre-built index and holder.
QStringList fingerprint(CAdminPage& window)
{
    QStringList state;
    CPageHolder* const holder = window.pageHolder();
    CPageIndex* const index = window.pageIndex();
    for (QWidget* widget : {static_cast<QWidget*>(holder), static_cast<QWidget*>(index),
                            static_cast<QWidget*>(&window)})
        state << QStringLiteral("%1 enabled=%2 hidden=%3 style=%4")
                     .arg(widget->objectName())
                     .arg(widget->isEnabled())
                     .arg(widget->isHidden())
                     .arg(widget->styleSheet());
    state << QStringLiteral("actions %1 %2 %3")
                 .arg(holder->actionItems().size())
                 .arg(index->actionItems().size())
                 .arg(window.actionItems().size());
    state << "index page=" + index->pageName() << "title=" + window.windowTitle();
    state << QStringLiteral("layout=%1").arg(index->layout() != nullptr);
    for (int row = 0; row < index->indexModel()->rowCount(); ++row)
        state << "row " + index->indexModel()->item(row)->text();
    state << QStringLiteral("pages %1").arg(holder->count());
    return state;
}

const QByteArray kDefinitionA =
    "<AdminConfig version=\"1.8\" title=\"A\" name=\"RootA\">"
    "<action signal=\"validate\" slot=\"hide\" widget=\"OnlyInA\"/>"
    "<index page=\"PA\" layout=\"vertical\" enabled=\"f\" style=\"color: red\">"
    "<action signal=\"clicked\" slot=\"hide\" widget=\"OnlyInA\"/>"
    "<indexlink page=\"PA\" title=\"A page\"/></index>"
    "<pageholder name=\"HolderA\" visible=\"f\" enabled=\"false\" icon=\":/res/left.png\">"
    "<action signal=\"clicked\" slot=\"hide\" widget=\"OnlyInA\"/>"
    "<page name=\"PA\" title=\"Page A\" layout=\"vertical\">"
    "<checkbox name=\"OnlyInA\" title=\"A\"/></page></pageholder></AdminConfig>";
const QByteArray kDefinitionB =
    "<AdminConfig version=\"1.8\" title=\"B\"><index><indexlink page=\"PB\" title=\"B page\"/>"
    "</index><pageholder><page name=\"PB\" title=\"Page B\" layout=\"vertical\">"
    "<lineedit name=\"OnlyInB\"/></page></pageholder></AdminConfig>";
} // namespace

TEST_F(DocumentSafetyTest, OpeningBAfterAEqualsOpeningBAlone)
{
    const QString a = writeFile("leak/A.xml", kDefinitionA);
    const QString b = writeFile("leak/B.xml", kDefinitionB);
    QStringList alone;
    {
        CModalAnswerer answerer;
        CAdminPage window(b, QStringList());
        alone = fingerprint(window);
        EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    }
    CModalAnswerer answerer;
    CAdminPage window(a, QStringList());
    ASSERT_EQ(QStringLiteral("Tessary: A - A.xml"), window.windowTitle());
    EXPECT_EQ(1, window.pageHolder()->actionItems().size());
    // Reopening the same definition does not pile its actions up.
    window.open(a);
    EXPECT_EQ(1, window.pageHolder()->actionItems().size());
    EXPECT_EQ(1, window.pageIndex()->actionItems().size());
    EXPECT_FALSE(window.pageHolder()->isEnabled());

    window.open(b);
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
    EXPECT_EQ(b, window.sourcePackageFile().absoluteFilePath());
    EXPECT_EQ(alone, fingerprint(window));
}

TEST_F(DocumentSafetyTest, ARefusedDefinitionLeavesNothingBehindItsMessageAndLinksWork)
{
    const QString refused = writeFile(
        "refused/Future.xml",
        "<AdminConfig version=\"1.8\" title=\"Future\"><index>"
        "<indexlink page=\"P\" title=\"Partial row\"/></index><pageholder>"
        "<page name=\"P\" title=\"P\" layout=\"vertical\"><label name=\"L\" title=\"x\"/>"
        "<checkbox name=\"C\" enabled=\"&lt;a "
        "href=&quot;file:///bin/sh&quot;&gt;maybe&lt;/a&gt;\"/></page></pageholder></AdminConfig>");
    const QString outdated =
        writeFile("refused/Outdated.xml", "<AdminConfig version=\"1.8\" versionmin=\"1.9\" "
                                          "title=\"Outdated\"><pageholder/></AdminConfig>");
    CAdminPage window{QString(), QStringList()};
    // What the window shows while each message is up.
    QStringList seen;
    CModalAnswerer answerer;
    answerer.m_lHandlers << [&](QDialog* dialog)
    {
        QMessageBox* const box = qobject_cast<QMessageBox*>(dialog);
        if (!box)
            return false;
        QLabel* const label = box->findChild<QLabel*>("qt_msgbox_label");
        seen << window.windowTitle()
             << QString::number(window.pageIndex()->indexModel()->rowCount())
             << QString::number(window.pageHolder()->count())
             << QString::number(box->textFormat() == Qt::RichText)
             << QString::number(label && label->openExternalLinks() &&
                                (label->textInteractionFlags() & Qt::LinksAccessibleByMouse))
             << box->text();
        box->button(QMessageBox::Ok)->click();
        return true;
    };
    window.open(refused);
    ASSERT_EQ(6, seen.size()) << seen.join('|').toStdString();
    EXPECT_EQ(QStringList({"Tessary", "1", "1", "0"}), seen.mid(0, 4));
    EXPECT_TRUE(seen.at(5).endsWith("Incorrect value for \"enabled\" attribute in object \"C\": "
                                    "<a href=\"file:///bin/sh\">maybe</a>"))
        << seen.at(5).toStdString();

    seen.clear();
    window.open(outdated);
    ASSERT_EQ(6, seen.size()) << seen.join('|').toStdString();
    EXPECT_EQ(QStringList({"Tessary", "1", "1", "1", "1"}), seen.mid(0, 5));
    EXPECT_TRUE(seen.at(5).startsWith("Failed to parse XML content.<br><br>Details:<br>Your "
                                      "version of Tessary is out of date."))
        << seen.at(5).toStdString();
    EXPECT_TRUE(seen.at(5).contains("<a href=\"https://")) << seen.at(5).toStdString();
}

TEST_F(DocumentSafetyTest, DropsOnFieldsShortcutsAndMissingFilesDoWhatTheUserMeans)
{
    const QString flat = QFileInfo(sample("TessarySample.pkg")).absoluteFilePath();
    const QString bundle = QFileInfo(sample("TessarySample-bundle.pkg")).absoluteFilePath();
    CModalAnswerer answerer;
    {
        // A missing file named on the command line is reported as missing.
        const CCommandLine line({"/Debug", "/no-such-folder/Missing.pkg"});
        CAdminPage window(line.file(), line.options());
        EXPECT_EQ(QStringList{"Could not open /no-such-folder/Missing.pkg: the file does not "
                              "exist."},
                  answerer.m_lSeen);
        EXPECT_EQ(1, window.pageHolder()->count());
    }
    answerer.clear();
    CAdminPage window(flat, QStringList());
    activate(window);
    QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
    ASSERT_TRUE(server);

    // Ctrl+E publishes even while a text field has the focus.
    server->setText(QStringLiteral("console.example.org"));
    server->setFocus();
    QTest::keyClick(server, Qt::Key_E, Qt::ControlModifier);
    // (A publish opens with its review.)
    EXPECT_EQ(QStringList{"dialog: Review customizations"}, answerer.m_lSeen);

    // An installer dropped on the field opens; its address is not typed into it.
    answerer.setAnswer(QMessageBox::No);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(bundle)});
    data.setText(QUrl::fromLocalFile(bundle).toString());
    const QPoint centre = server->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(server, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(server, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(waitFor([&] { return window.sourcePackageFile().absoluteFilePath() == bundle; }));
    QLineEdit* const reopened = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
    ASSERT_TRUE(reopened);
    EXPECT_FALSE(reopened->text().contains(QLatin1String("file:")))
        << reopened->text().toStdString();
}

TEST_F(DocumentSafetyTest, OpenChoosesBundleInstallers)
{
    const QString bundle = QFileInfo(sample("TessarySample-bundle.pkg")).absoluteFilePath();
    const QString mpkg = QFileInfo(sample("TessarySample.mpkg")).absoluteFilePath();
    CAdminPage window{QString(), QStringList()};
    // Answers the next Open dialog with how; any other file dialog is canceled.
    CModalAnswerer answerer;
    const auto answerOpen = [&answerer](std::function<void(QFileDialog*)> how)
    {
        answerer.once(
            [how](QDialog* dialog)
            {
                QFileDialog* const files = qobject_cast<QFileDialog*>(dialog);
                if (!files)
                    return false;
                how(files);
                return true;
            });
    };

    // The bundle typed (or selected) and Open pressed.
    answerOpen(
        [&](QFileDialog* dialog)
        {
            ASSERT_TRUE(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")));
            CModalAnswerer::choose(dialog, bundle);
        });
    window.open();
    EXPECT_EQ(bundle, window.sourcePackageFile().absoluteFilePath());
    EXPECT_GT(window.pageHolder()->count(), 1);

    // Open pressed from inside a bundle.
    answerOpen(
        [&](QFileDialog* dialog)
        {
            dialog->setDirectory(mpkg);
            if (QLineEdit* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->clear();
            static_cast<QDialog*>(dialog)->accept();
        });
    window.open();
    EXPECT_EQ(mpkg, window.sourcePackageFile().absoluteFilePath());
    EXPECT_TRUE(answerer.m_lTexts.isEmpty()) << answerer.m_lTexts.join('\n').toStdString();
}

TEST_F(DocumentSafetyTest, ReplacingTheDocumentFromAnActionsDialogIsSafe)
{
    // Each widget's own handler is still running while its action's box is open.
    const QString box = R"(<action signal="%1" slot="messagebox" severity="error" msg="Busy"/>)";
    const QStringList kinds = {
        "<checkbox name=\"w\" title=\"C\">" + box.arg("checked") + "</checkbox>",
        "<radiobutton name=\"w\" value=\"1\" title=\"R\">" + box.arg("checked") + "</radiobutton>",
        "<lineedit name=\"w\">" + box.arg("textedited") + "</lineedit>",
        "<lineedit name=\"w\">" + box.arg("textchanged") + "</lineedit>",
        R"(<combobox name="w"><entry title="A" value="a"/><entry title="B" value="b">)" +
            box.arg("selected") + "</entry></combobox>"};
    const QString other = writeFile("replace/Other.xml", kDefinitionB);
    for (int i = 0; i < kinds.size(); ++i)
    {
        SCOPED_TRACE(kinds.at(i).toStdString());
        const QString path =
            writeFile(QStringLiteral("replace/Kind%1.xml").arg(i),
                      "<AdminConfig version=\"1.8\" title=\"K\"><pageholder><page name=\"P\" "
                      "layout=\"vertical\">" +
                          kinds.at(i).toUtf8() + "</page></pageholder></AdminConfig>");
        CAdminPage window(path, QStringList());
        CXmlObject* const target = window.findChildObjects("w").value(0);
        ASSERT_TRUE(target);
        bool replaced = false;
        // The save-changes prompt of the replacing open, asked while the box is
        // being answered, is answered No.
        CModalAnswerer answerer(QMessageBox::No);
        answerer.m_lHandlers << [&](QDialog* dialog)
        {
            QMessageBox* const shown = qobject_cast<QMessageBox*>(dialog);
            if (!shown || shown->text() != QLatin1String("Busy") || replaced)
                return false;
            replaced = true;
            window.open(other);
            shown->button(QMessageBox::Ok)->click();
            return true;
        };
        if (QAbstractButton* button = dynamic_cast<QAbstractButton*>(target))
            button->click();
        else if (QLineEdit* edit = dynamic_cast<QLineEdit*>(target))
            edit->setText("typed");
        else if (QComboBox* combo = dynamic_cast<QComboBox*>(target))
            combo->setCurrentIndex(1);
        EXPECT_TRUE(replaced);
        EXPECT_EQ(other, window.sourcePackageFile().absoluteFilePath());
        EXPECT_TRUE(window.findChildObjects("w").isEmpty());
        EXPECT_EQ(1, window.findChildObjects("OnlyInB").size());
        // The old page goes once the handler has returned.
        waitFor([] { return false; }, 100);
    }
}
