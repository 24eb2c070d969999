#include "AppTestSupport.h"

#include "app/index/IndexLink.h"
#include "app/index/PageIndex.h"
#include "app/window/AdminPage.h"
#include "app/window/PageSearch.h"

#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlWidget.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSet>
#include <QStandardItemModel>
#include <QTest>

using namespace AppTest;

namespace
{
// The fields a screen reader user fills in: they must say what they are for.
bool isField(QAccessible::Role role)
{
    return role == QAccessible::EditableText || role == QAccessible::CheckBox ||
           role == QAccessible::RadioButton || role == QAccessible::ComboBox ||
           role == QAccessible::SpinBox || role == QAccessible::List;
}

// Walks the accessible tree below face, noting the shown fields without a name and
// the fields whose help text is not their description.
void walk(QAccessibleInterface* face, const QWidget* within, QStringList& nameless,
          QStringList& undescribed, int depth)
{
    if (!face || depth > 64)
        return;
    QWidget* const widget = qobject_cast<QWidget*>(face->object());
    if (widget && widget->isVisible() && isField(face->role()) &&
        (widget == within || within->isAncestorOf(widget)))
    {
        const QString id = widget->objectName().isEmpty()
                               ? QString::fromLatin1(widget->metaObject()->className())
                               : widget->objectName();
        if (face->text(QAccessible::Name).trimmed().isEmpty())
            nameless << id;
        if (const CXmlWidget* const xml = dynamic_cast<const CXmlWidget*>(widget))
        {
            if (!xml->getTessaryDetails().isEmpty() &&
                face->text(QAccessible::Description) != xml->getTessaryDetails())
                undescribed << id;
        }
    }
    for (int i = 0; i < face->childCount(); ++i)
        walk(face->child(i), within, nameless, undescribed, depth + 1);
}

// The letters that bring up the menu bar's menus with Alt.
QSet<QChar> menuLetters(CAdminPage& window)
{
    QSet<QChar> letters;
    for (QAction* const menu : window.menuBar()->actions())
    {
        const QKeySequence mnemonic = QKeySequence::mnemonic(menu->text());
        if (!mnemonic.isEmpty())
            letters.insert(mnemonic.toString().right(1).at(0).toUpper());
    }
    return letters;
}

class AccessTest : public AppFixture
{
};
} // namespace

TEST_F(AccessTest, EveryFieldOfTheSampleIsNamedAndDescribedAndOnlyLinksAreTabStops)
{
    CModalAnswerer answerer;
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.show();
    CPageHolder* const holder = window.pageHolder();
    ASSERT_GT(holder->count(), 5);
    const QSet<QChar> menus = menuLetters(window);
    ASSERT_TRUE(menus.contains('P'));

    QStringList nameless, undescribed, tabLabels, clashes;
    int fields = 0;
    for (int i = 0; i < holder->count(); ++i)
    {
        holder->setCurrentIndex(i);
        QApplication::processEvents();
        QStringList pageNameless, pageUndescribed;
        walk(QAccessible::queryAccessibleInterface(&window), holder, pageNameless, pageUndescribed,
             0);
        nameless += pageNameless;
        undescribed += pageUndescribed;
        for (QWidget* const widget : holder->QStackedWidget::widget(i)->findChildren<QWidget*>())
        {
            QAccessibleInterface* const face = QAccessible::queryAccessibleInterface(widget);
            if (widget->isVisible() && face && isField(face->role()))
                ++fields;
        }
        for (QLabel* const label : holder->QStackedWidget::widget(i)->findChildren<QLabel*>())
        {
            if ((label->focusPolicy() & Qt::TabFocus) && !label->text().contains("<a "))
                tabLabels << label->text();
            const QKeySequence mnemonic = QKeySequence::mnemonic(label->text());
            if (!mnemonic.isEmpty() && menus.contains(mnemonic.toString().right(1).at(0).toUpper()))
                clashes << label->text();
        }
    }
    EXPECT_GT(fields, 30);
    // Announced by the caption before them, not by their value.
    QWidget* const channel = window.findChild<QWidget*>(QStringLiteral("UpdateChannel"));
    ASSERT_TRUE(channel);
    EXPECT_EQ("Channel:", channel->accessibleName().toStdString());
    QWidget* const notes = window.findChild<QWidget*>(QStringLiteral("AdminNotes"));
    ASSERT_TRUE(notes);
    EXPECT_EQ("Notes for your records (saved in the customization file only):",
              notes->accessibleName().toStdString());
    EXPECT_TRUE(nameless.isEmpty()) << nameless.join(", ").toStdString();
    EXPECT_TRUE(undescribed.isEmpty()) << undescribed.join(", ").toStdString();
    EXPECT_TRUE(tabLabels.isEmpty()) << tabLabels.join(", ").toStdString();
    EXPECT_TRUE(clashes.isEmpty()) << clashes.join(", ").toStdString();
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
}

TEST_F(AccessTest, KeysReachTheMenusAndTheSearchHandsOnToItsMatches)
{
    CModalAnswerer answerer;
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }, 2000));
    QAction* const saveAs = findAction(&window, QStringLiteral("Save &As..."));
    ASSERT_TRUE(saveAs);
    EXPECT_FALSE(saveAs->shortcut().isEmpty());
    const QList<QKeySequence> standard = QKeySequence::keyBindings(QKeySequence::SaveAs);
    if (!standard.isEmpty())
    {
        EXPECT_EQ(standard.first(), saveAs->shortcut());
    }

    CPageSearch* const search = window.findChild<CPageSearch*>(QStringLiteral("pageSearch"));
    ASSERT_TRUE(search);
    EXPECT_FALSE(search->accessibleName().isEmpty());
    // Ctrl+E publishes from the search field too; a publish opens with its review.
    search->setFocus();
    QTest::keyClick(search, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(QStringList{"dialog: Review customizations"}, answerer.m_lSeen);
    answerer.clear();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }, 2000));

    // Down, then Return, go on to the first page that matches.
    QTest::keyClicks(search, QStringLiteral("proxy"));
    for (const int key : {int(Qt::Key_Down), int(Qt::Key_Return)})
    {
        window.pageIndex()->setCurrentIndex(window.pageIndex()->indexModel()->index(0, 0));
        search->setFocus();
        QTest::keyClick(search, Qt::Key(key));
        EXPECT_TRUE(window.pageIndex()->hasFocus()) << key;
        ASSERT_TRUE(window.pageIndex()->currentLink());
        EXPECT_EQ("Proxy", window.pageIndex()->currentLink()->text().toStdString()) << key;
    }
    EXPECT_TRUE(answerer.m_lSeen.isEmpty()) << answerer.m_lSeen.join('\n').toStdString();
}

TEST_F(AccessTest, TheFocusedControlLooksFocused)
{
    CModalAnswerer answerer;
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
    ASSERT_TRUE(server);
    // As after a Tab: styles draw the focus of keyboard users.
    QTest::keyClick(&window, Qt::Key_Tab);
    ASSERT_TRUE(window.testAttribute(Qt::WA_KeyboardFocusChange));
    QStringList unseen;
    // Every kind of control on the first page: a button, a check box, a line edit.
    for (QWidget* const control : server->parentWidget()->findChildren<QWidget*>())
    {
        if (!control->isVisible() || !control->isEnabled() ||
            !(control->focusPolicy() & Qt::TabFocus) || qobject_cast<QLabel*>(control))
            continue;
        server->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        if (control == server)
            window.findChild<CPageSearch*>()->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        const QImage before = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        ASSERT_TRUE(control->hasFocus()) << control->objectName().toStdString();
        if (control->grab().toImage() == before)
            unseen << control->objectName() + QLatin1Char('/') +
                          QString::fromLatin1(control->metaObject()->className());
    }
    EXPECT_TRUE(unseen.isEmpty()) << unseen.join(", ").toStdString();
}
