#include "AppTestSupport.h"

#include "app/packages/CopyFileThread.h"
#include "app/window/AdminPage.h"
#include "app/window/FieldReset.h"
#include "app/window/UndoHistory.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <memory>

using namespace AppTest;

// Readable failures for Qt strings.
inline void PrintTo(const QString& text, std::ostream* stream)
{
    *stream << '"' << text.toStdString() << '"';
}

namespace
{
const QString TlsStep = QStringLiteral("Change to Require an encrypted (TLS) connection");

template <class Widget> Widget* field(CAdminPage& window, const char* name)
{
    Widget* const found = window.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_TRUE(found) << name;
    return found;
}

CPage* pageOf(QWidget* widget)
{
    for (QWidget* parent = widget; parent; parent = parent->parentWidget())
    {
        if (CPage* const page = qobject_cast<CPage*>(parent))
            return page;
    }
    return nullptr;
}

void showPageOf(CAdminPage& window, QWidget* widget)
{
    CPage* const page = pageOf(widget);
    ASSERT_TRUE(page);
    window.pageHolder()->setActivePage(page);
}

// The steps gathered while one event is handled are one once events have run.
void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

QStringList menuTitles(CAdminPage& window)
{
    QStringList titles;
    for (QAction* const menu : window.menuBar()->actions())
        titles << menu->text();
    return titles;
}

class UndoTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        m_pWindow = std::make_unique<CAdminPage>(sample("TessarySample.pkg"), QStringList());
        m_pUndo = window().undoHistory().undoAction();
        m_pRedo = window().undoHistory().redoAction();
    }
    void TearDown() override
    {
        m_pWindow.reset();
        AppFixture::TearDown();
    }
    CAdminPage& window() { return *m_pWindow; }
    QUndoStack& stack() { return *window().undoHistory().stack(); }
    // Shows the window with keyboard focus, for key presses to reach shortcuts.
    void activate()
    {
        window().show();
        QApplication::setActiveWindow(&window());
        window().activateWindow();
        ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window(); }, 2000));
    }

    CModalAnswerer m_answerer;
    std::unique_ptr<CAdminPage> m_pWindow;
    QAction* m_pUndo = nullptr;
    QAction* m_pRedo = nullptr;
};
} // namespace

TEST_F(UndoTest, EditMenuSitsBetweenFileAndPublishWithUndoAndRedo)
{
    EXPECT_EQ(QStringList({"&File", "&Edit", "&Publish", "&Help"}), menuTitles(window()));
    EXPECT_TRUE(m_pUndo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
    EXPECT_TRUE(m_pRedo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
    // Nothing to undo right after opening.
    EXPECT_FALSE(m_pUndo->isEnabled());
    EXPECT_FALSE(m_pRedo->isEnabled());
    EXPECT_EQ("&Undo", m_pUndo->text());
    EXPECT_EQ("&Redo", m_pRedo->text());
    EXPECT_TRUE(findAction(&window(), QStringLiteral("Reset Pa&ge to Defaults")));
}

TEST_F(UndoTest, UntickingTlsAndThePortItsActionSetAreUndoneAndRedoneAsOneStep)
{
    QCheckBox* const tls = field<QCheckBox>(window(), "UseTls");
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    QWidget* const caFile = field<QWidget>(window(), "CaCertificate");
    ASSERT_TRUE(tls && port && caFile);
    ASSERT_TRUE(tls->isChecked());
    ASSERT_EQ("8443", port->text());
    EXPECT_FALSE(window().isChanged());

    tls->click();
    settle();
    ASSERT_EQ("8080", port->text());
    EXPECT_FALSE(caFile->isEnabled());
    EXPECT_EQ(1, stack().count());
    EXPECT_TRUE(m_pUndo->isEnabled());
    EXPECT_FALSE(m_pRedo->isEnabled());
    EXPECT_EQ("&Undo " + TlsStep, m_pUndo->text());
    EXPECT_TRUE(window().isChanged());

    m_pUndo->trigger();
    EXPECT_TRUE(tls->isChecked());
    EXPECT_EQ("8443", port->text());
    EXPECT_TRUE(caFile->isEnabled());
    EXPECT_FALSE(m_pUndo->isEnabled());
    EXPECT_TRUE(m_pRedo->isEnabled());
    EXPECT_EQ("&Redo " + TlsStep, m_pRedo->text());
    // Undoing back to the values opened leaves nothing to save; undo recorded nothing.
    EXPECT_FALSE(window().isChanged());
    settle();
    EXPECT_EQ(1, stack().count());

    m_pRedo->trigger();
    EXPECT_FALSE(tls->isChecked());
    EXPECT_EQ("8080", port->text());
    EXPECT_FALSE(caFile->isEnabled());
    EXPECT_TRUE(window().isChanged());
    settle();
    EXPECT_EQ(1, stack().count());
    EXPECT_EQ(1, stack().index());
}

TEST_F(UndoTest, APortTypedBeforeTheUntickComesBackAsTyped)
{
    QCheckBox* const tls = field<QCheckBox>(window(), "UseTls");
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    ASSERT_TRUE(tls && port);
    port->setText(QStringLiteral("8080"));
    settle();
    // Ticked with port 8080, the sample's action sets 8443: undo gives 8080 back.
    tls->click();
    settle();
    tls->click();
    settle();
    ASSERT_TRUE(tls->isChecked());
    ASSERT_EQ("8443", port->text());
    m_pUndo->trigger();
    EXPECT_FALSE(tls->isChecked());
    EXPECT_EQ("8080", port->text());
    m_pUndo->trigger();
    EXPECT_TRUE(tls->isChecked());
    EXPECT_EQ("8080", port->text());
    m_pUndo->trigger();
    EXPECT_EQ("8443", port->text());
    EXPECT_FALSE(m_pUndo->isEnabled());
}

TEST_F(UndoTest, TypingIsOneStepAndCtrlZFromTheFieldTakesItBackWithTheLinkedField)
{
    QLineEdit* const address = field<QLineEdit>(window(), "ServerAddress");
    QLineEdit* const review = field<QLineEdit>(window(), "ReviewServer");
    QLineEdit* const token = field<QLineEdit>(window(), "EnrollmentToken");
    ASSERT_TRUE(address && review && token);
    activate();
    showPageOf(window(), address);
    address->setFocus();
    QTest::keyClicks(address, QStringLiteral("console.example.org"));
    settle();
    EXPECT_EQ("console.example.org", review->text());
    EXPECT_EQ(1, stack().count());
    EXPECT_EQ("&Undo Change to Server address", m_pUndo->text());

    // Typing elsewhere is a step of its own, and so is coming back.
    token->setFocus();
    QTest::keyClicks(token, QStringLiteral("ab"));
    settle();
    address->setFocus();
    QTest::keyClicks(address, QStringLiteral("x"));
    settle();
    EXPECT_EQ(3, stack().count());

    // Ctrl+Z pressed in the field is the window's undo: the field's own would leave
    // the review page's copy behind. It is pressed before the last typing is a step.
    QTest::keyClicks(address, QStringLiteral("y"));
    QTest::keyClick(address, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ("console.example.org", address->text());
    EXPECT_EQ("console.example.org", review->text());
    QTest::keyClick(address, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ("", token->text());
    QTest::keyClick(address, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ("", address->text());
    EXPECT_EQ("", review->text());
    EXPECT_FALSE(m_pUndo->isEnabled());

    QTest::keyClick(address, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ("console.example.org", address->text());
    EXPECT_EQ("console.example.org", review->text());
    EXPECT_EQ(3, stack().count());

    // The search field keeps its own undo.
    QLineEdit* const search = window().findChild<QLineEdit*>(QStringLiteral("pageSearch"));
    ASSERT_TRUE(search);
    search->setFocus();
    QTest::keyClicks(search, QStringLiteral("ab"));
    QTest::keyClick(search, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE("ab", search->text());
    EXPECT_EQ("console.example.org", address->text());
    EXPECT_TRUE(m_answerer.m_lSeen.isEmpty()) << m_answerer.m_lSeen.join('\n').toStdString();
}

TEST_F(UndoTest, UndoingToTheSavedValuesLeavesNothingToSave)
{
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    ASSERT_TRUE(port);
    port->setText(QStringLiteral("9000"));
    settle();
    // As a save does.
    window().resetChanged(false);
    EXPECT_FALSE(window().isChanged());
    port->setText(QStringLiteral("9001"));
    settle();
    EXPECT_TRUE(window().isChanged());
    m_pUndo->trigger();
    EXPECT_EQ("9000", port->text());
    EXPECT_FALSE(window().isChanged());
    m_pUndo->trigger();
    EXPECT_EQ("8443", port->text());
    EXPECT_TRUE(window().isChanged());
    m_pRedo->trigger();
    EXPECT_FALSE(window().isChanged());
}

TEST_F(UndoTest, OpeningAndImportingStartTheHistoryAfresh)
{
    QLineEdit* port = field<QLineEdit>(window(), "ServerPort");
    ASSERT_TRUE(port);
    port->setText(QStringLiteral("9000"));
    settle();
    ASSERT_TRUE(m_pUndo->isEnabled());
    const QString saved = testPath("saved.xml");
    ASSERT_TRUE(window().saveXMLToFile(saved.toUtf8()));

    ASSERT_TRUE(window().tryOpen(
        CCopyFileThread::loadPackage(QFileInfo(sample("TessarySample.pkg"))), false, false));
    EXPECT_FALSE(m_pUndo->isEnabled());
    EXPECT_EQ(0, stack().count());
    port = field<QLineEdit>(window(), "ServerPort");
    ASSERT_TRUE(port);
    EXPECT_EQ("8443", port->text());

    port->setText(QStringLiteral("9001"));
    settle();
    ASSERT_TRUE(m_pUndo->isEnabled());
    ASSERT_TRUE(window().loadCustomizationFile(QFileInfo(saved), true));
    settle();
    EXPECT_EQ("9000", port->text());
    EXPECT_EQ(0, stack().count());
    EXPECT_FALSE(m_pUndo->isEnabled());
}

TEST_F(UndoTest, AFieldResetsToItsDefaultFromItsContextMenuAsOneUndoableStep)
{
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    QCheckBox* const tls = field<QCheckBox>(window(), "UseTls");
    QLineEdit* const address = field<QLineEdit>(window(), "ServerAddress");
    ASSERT_TRUE(port && tls && address);
    port->setText(QStringLiteral("9000"));
    settle();

    std::unique_ptr<QMenu> menu(window().fieldReset().createContextMenu(port));
    ASSERT_TRUE(menu);
    QAction* reset = nullptr;
    int standard = 0;
    for (QAction* const action : menu->actions())
    {
        if (action->text() == QLatin1String("Reset to &Default"))
            reset = action;
        else if (!action->isSeparator())
            ++standard;
    }
    ASSERT_TRUE(reset);
    // The line edit's own entries stay.
    EXPECT_GE(standard, 5);
    ASSERT_TRUE(reset->isEnabled());
    reset->trigger();
    EXPECT_EQ("8443", port->text());
    EXPECT_EQ("&Undo Reset of Port", m_pUndo->text());
    m_pUndo->trigger();
    EXPECT_EQ("9000", port->text());

    // Reset follows the normal path: the check box's actions run as on a click.
    tls->click();
    settle();
    menu.reset(window().fieldReset().createContextMenu(tls));
    ASSERT_TRUE(menu);
    ASSERT_TRUE(window().fieldReset().resetField(dynamic_cast<CXmlObject*>(tls)));
    EXPECT_TRUE(tls->isChecked());
    EXPECT_TRUE(field<QWidget>(window(), "CaCertificate")->isEnabled());
    // A field without a default goes back to what a fresh load gave it.
    address->setText(QStringLiteral("console"));
    settle();
    EXPECT_TRUE(window().fieldReset().resetField(dynamic_cast<CXmlObject*>(address)));
    EXPECT_EQ("", address->text());
    // Nothing to reset: nothing recorded.
    const int steps = stack().count();
    EXPECT_FALSE(window().fieldReset().resetField(dynamic_cast<CXmlObject*>(address)));
    EXPECT_EQ(steps, stack().count());
}

TEST_F(UndoTest, APageResetsItsEnabledFieldsAsOneStep)
{
    QLineEdit* const address = field<QLineEdit>(window(), "ServerAddress");
    QLineEdit* const review = field<QLineEdit>(window(), "ReviewServer");
    QPlainTextEdit* const contact = field<QPlainTextEdit>(window(), "SupportContact");
    QPlainTextEdit* const notice = field<QPlainTextEdit>(window(), "PrivacyNotice");
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    QCheckBox* const tls = field<QCheckBox>(window(), "UseTls");
    QLineEdit* const token = field<QLineEdit>(window(), "EnrollmentToken");
    ASSERT_TRUE(address && review && contact && notice && port && tls && token);
    const QString contactLoaded = contact->toPlainText();
    const QString noticeLoaded = notice->toPlainText();
    QAction* const resetPage = findAction(&window(), QStringLiteral("Reset Pa&ge to Defaults"));
    ASSERT_TRUE(resetPage);

    // The edits: the disabled copy of the address follows the typing.
    address->setText(QStringLiteral("console"));
    emit address->textEdited(address->text());
    contact->setPlainText(QStringLiteral("Call 123"));
    port->setText(QStringLiteral("9000"));
    tls->click();
    token->setText(QStringLiteral("ABCD"));
    token->setEnabled(false);
    settle();
    ASSERT_EQ("console", review->text());

    // The review page: its disabled and read-only fields stay as they are.
    showPageOf(window(), review);
    ASSERT_TRUE(resetPage->isEnabled());
    resetPage->trigger();
    EXPECT_EQ(contactLoaded, contact->toPlainText());
    EXPECT_EQ("console", review->text());
    EXPECT_EQ(noticeLoaded, notice->toPlainText());
    EXPECT_FALSE(resetPage->isEnabled());
    EXPECT_EQ("&Undo Reset of page Review", m_pUndo->text());

    // The server page from its background, in one step.
    showPageOf(window(), address);
    std::unique_ptr<QMenu> menu(window().fieldReset().createContextMenu(window().pageHolder()));
    ASSERT_TRUE(menu);
    ASSERT_EQ(1, menu->actions().size());
    const int before = stack().count();
    menu->actions().first()->trigger();
    EXPECT_EQ("", address->text());
    EXPECT_EQ("8443", port->text());
    EXPECT_TRUE(tls->isChecked());
    EXPECT_TRUE(field<QWidget>(window(), "CaCertificate")->isEnabled());
    EXPECT_EQ("ABCD", token->text());
    settle();
    EXPECT_EQ(before + 1, stack().count());

    m_pUndo->trigger();
    EXPECT_EQ("console", address->text());
    EXPECT_EQ("9000", port->text());
    EXPECT_FALSE(tls->isChecked());
    EXPECT_FALSE(field<QWidget>(window(), "CaCertificate")->isEnabled());
    m_pUndo->trigger();
    EXPECT_EQ("Call 123", contact->toPlainText());
}

TEST_F(UndoTest, AChosenRadioButtonIsOneStepOfItsGroupAndItsActionsFollowTheUndo)
{
    QAbstractButton* const atBoot = field<QAbstractButton>(window(), "StartAtBoot");
    QAbstractButton* const manually = field<QAbstractButton>(window(), "StartManually");
    QWidget* const note = field<QWidget>(window(), "ManualStartNote");
    ASSERT_TRUE(atBoot && manually && note);
    ASSERT_TRUE(atBoot->isChecked());
    ASSERT_TRUE(note->isHidden());
    manually->click();
    settle();
    EXPECT_FALSE(note->isHidden());
    EXPECT_EQ(1, stack().count());
    EXPECT_EQ("&Undo Change to SENTINEL_START_MODE", m_pUndo->text());
    m_pUndo->trigger();
    EXPECT_TRUE(atBoot->isChecked());
    EXPECT_TRUE(note->isHidden());
    m_pRedo->trigger();
    EXPECT_TRUE(manually->isChecked());
    EXPECT_FALSE(note->isHidden());

    // The group resets to its default with the page.
    showPageOf(window(), manually);
    findAction(&window(), QStringLiteral("Reset Pa&ge to Defaults"))->trigger();
    EXPECT_TRUE(atBoot->isChecked());
    EXPECT_TRUE(note->isHidden());
}

TEST_F(UndoTest, TheFieldsContextMenuResetsIt)
{
    QLineEdit* const port = field<QLineEdit>(window(), "ServerPort");
    ASSERT_TRUE(port);
    activate();
    showPageOf(window(), port);
    port->setText(QStringLiteral("9000"));
    settle();
    bool answered = false;
    withContextMenu(port,
                    [&](QMenu* menu)
                    {
                        for (QAction* const action : menu->actions())
                        {
                            if (action->text() == QLatin1String("Reset to &Default"))
                            {
                                answered = true;
                                action->trigger();
                            }
                        }
                    });
    EXPECT_TRUE(answered);
    EXPECT_EQ("8443", port->text());
    EXPECT_EQ("&Undo Reset of Port", m_pUndo->text());
}

TEST_F(UndoTest, ATextFieldsContextMenuOffersItsEditingAndTheReset)
{
    QPlainTextEdit* const exclusions = field<QPlainTextEdit>(window(), "Exclusions");
    ASSERT_TRUE(exclusions);
    activate();
    showPageOf(window(), exclusions);
    const QString before = exclusions->toPlainText();
    exclusions->setPlainText(QStringLiteral("/one\n/two"));
    settle();
    QStringList names;
    // A text field's menu is asked for on its viewport, where the mouse is.
    withContextMenu(exclusions->viewport(),
                    [&](QMenu* menu)
                    {
                        QAction* reset = nullptr;
                        for (QAction* const action : menu->actions())
                        {
                            names << (action->objectName().isEmpty() ? action->text()
                                                                     : action->objectName());
                            if (action->text() == QLatin1String("Reset to &Default"))
                                reset = action;
                        }
                        if (reset)
                            reset->trigger();
                    });
    EXPECT_TRUE(names.contains(QLatin1String("edit-copy"))) << names.join(',').toStdString();
    EXPECT_TRUE(names.contains(QLatin1String("Reset to &Default")))
        << names.join(',').toStdString();
    EXPECT_EQ(before.toStdString(), exclusions->toPlainText().toStdString());
}
