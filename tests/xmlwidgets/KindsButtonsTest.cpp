// Two-state kinds and their groups: check box, radio button, button group, bit
// mask; push button and link; mouse-over help.

#include "FrameworkTestSupport.h"

#include "shared/XmlWidgets/BitMask.h"
#include "shared/XmlWidgets/Button.h"
#include "shared/XmlWidgets/ButtonGroup.h"
#include "shared/XmlWidgets/CheckBox.h"
#include "shared/XmlWidgets/HyperLink.h"
#include "shared/XmlWidgets/Label.h"
#include "shared/XmlWidgets/LineEdit.h"
#include "shared/XmlWidgets/RadioButton.h"

#include <QBoxLayout>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace FrameworkTest;

namespace
{

class KindsButtonsTest : public FrameworkFixture
{
protected:
    std::unique_ptr<Definition> show(const QString& body)
    {
        auto d = load(wrap(body));
        EXPECT_TRUE(d->ok()) << d->error.toStdString();
        if (d->root)
        {
            d->root->resize(400, 400);
            d->root->show();
        }
        return d;
    }

    // Clicks where a check box or radio button draws its indicator.
    static void clickIndicator(QWidget* button)
    {
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
    }
};

} // namespace

TEST_F(KindsButtonsTest, CheckBoxValuesFollowClicksAndSetValue)
{
    auto d = show(
        QStringLiteral("<checkbox name=\"plain\" title=\"Plain\"/>"
                       "<checkbox name=\"yn\" property=\"P\" title=\"Y/N\" checkvalue=\"yes-%OS%\" "
                       "uncheckvalue=\"no\"/>"));
    auto* plain = d->find<CCheckBox>("plain");
    auto* yn = d->find<CCheckBox>("yn");
    ASSERT_TRUE(plain && yn);
    EXPECT_EQ(plain->text(), QStringLiteral("Plain"));
    EXPECT_EQ(plain->getValue(), QString());
    EXPECT_TRUE(plain->isEmpty());
    EXPECT_EQ(yn->checkValue(), QStringLiteral("yes-Mac"));
    EXPECT_EQ(yn->getValue(), QStringLiteral("no"));

    QSignalSpy checkedSpy(plain, &CCheckBox::checked);
    QSignalSpy uncheckedSpy(plain, &CCheckBox::unchecked);
    clickIndicator(plain);
    EXPECT_EQ(plain->getValue(), QStringLiteral("1"));
    EXPECT_EQ(checkedSpy.count(), 1);
    EXPECT_EQ(d->root->m_lNotificationSources.count(plain), 1);
    clickIndicator(plain);
    EXPECT_EQ(plain->getValue(), QString());
    EXPECT_EQ(uncheckedSpy.count(), 1);
    EXPECT_EQ(d->root->m_lNotificationSources.count(plain), 2);

    // setValue: check value checks, uncheck value unchecks, anything else is ignored;
    // it marks the change but raises no checked/unchecked signal.
    QSignalSpy ynChecked(yn, &CCheckBox::checked);
    yn->setValue(QStringLiteral("yes-Mac"));
    EXPECT_TRUE(yn->isChecked());
    yn->setValue(QStringLiteral("maybe"));
    EXPECT_TRUE(yn->isChecked());
    yn->setValue(QStringLiteral("yes-Mac"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(yn), 1);
    yn->setValue(QStringLiteral("no"));
    EXPECT_FALSE(yn->isChecked());
    EXPECT_EQ(d->root->m_lNotificationSources.count(yn), 2);
    EXPECT_EQ(ynChecked.count(), 0);
}

TEST_F(KindsButtonsTest, CheckBoxSlotsAndActions)
{
    auto d = show(
        QStringLiteral("<checkbox name=\"c\" default=\"1\">"
                       "<action signal=\"checked\" slot=\"setvalue\" widget=\"f\" value=\"on\"/>"
                       "<action signal=\"unchecked\" slot=\"setvalue\" widget=\"f\" value=\"off\"/>"
                       "</checkbox>"
                       "<lineedit name=\"f\"/>"));
    auto* box = d->find<CCheckBox>("c");
    auto* field = d->find<CLineEdit>("f");
    ASSERT_TRUE(box && field);
    // The default is the check value: checked, silently, and nothing marked changed.
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(field->text(), QString());
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty());

    QSignalSpy checkedSpy(box, &CCheckBox::checked);
    EXPECT_TRUE(box->performAction(QStringLiteral("click"), nullptr)); // already checked
    EXPECT_EQ(checkedSpy.count(), 0);
    EXPECT_TRUE(box->performAction(QStringLiteral("unclick"), nullptr));
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(field->text(), QStringLiteral("off"));
    EXPECT_TRUE(box->performAction(QStringLiteral("check"), nullptr)); // silent
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(field->text(), QStringLiteral("off"));
    EXPECT_EQ(checkedSpy.count(), 0);
    EXPECT_TRUE(box->performAction(QStringLiteral("uncheck"), nullptr));
    EXPECT_TRUE(box->performAction(QStringLiteral("click"), nullptr));
    EXPECT_EQ(field->text(), QStringLiteral("on"));
    EXPECT_EQ(checkedSpy.count(), 1);
    // Unknown slots fall through to the common ones, which report success.
    EXPECT_TRUE(box->performAction(QStringLiteral("Check"), nullptr));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(box->performAction(QStringLiteral("disable"), nullptr));
    EXPECT_FALSE(box->isEnabled());
}

TEST_F(KindsButtonsTest, ButtonGroupValueDefaultAndSetValue)
{
    auto d =
        show(QStringLiteral("<buttongroup name=\"g\" property=\"G\" default=\"none\">"
                            "<radiobutton name=\"a\" title=\"A\" value=\"va\"/>"
                            "<radiobutton name=\"b\" title=\"B\" value=\"vb\" default=\"renamed\"/>"
                            "<radiobutton name=\"b2\" title=\"B2\" value=\"vb\"/>"
                            "</buttongroup>"));
    auto* group = d->find<CButtonGroup>("g");
    auto* a = d->find<CRadioButton>("a");
    auto* b = d->find<CRadioButton>("b");
    auto* b2 = d->find<CRadioButton>("b2");
    ASSERT_TRUE(group && a && b && b2);
    EXPECT_EQ(group->widget(), nullptr);
    // The radio buttons belong to the group's parent and sit in its layout.
    EXPECT_EQ(a->parentObject(), d->root.get());
    EXPECT_EQ(a->parentWidget(), d->root.get());
    EXPECT_EQ(d->root->boxLayout()->count(), 3);

    // Nothing checked (the group default names no button): the default itself.
    EXPECT_EQ(group->getValue(), QStringLiteral("none"));
    EXPECT_TRUE(a->isEmpty());
    // A radio button's own default replaces its value text and does not check it.
    EXPECT_EQ(b->getValue(), QStringLiteral("renamed"));
    EXPECT_FALSE(b->isChecked());

    group->setValue(QStringLiteral("vb")); // b no longer carries vb: b2 is the first
    EXPECT_TRUE(b2->isChecked());
    EXPECT_EQ(group->getValue(), QStringLiteral("vb"));
    group->setValue(QStringLiteral("unknown"));
    EXPECT_TRUE(b2->isChecked());

    QSignalSpy aChecked(a, &CRadioButton::checked);
    QSignalSpy b2Unchecked(b2, &CRadioButton::unchecked);
    QTest::mouseClick(a, Qt::LeftButton, Qt::NoModifier, QPoint(6, a->height() / 2));
    EXPECT_TRUE(a->isChecked());
    EXPECT_FALSE(b2->isChecked());
    EXPECT_EQ(group->getValue(), QStringLiteral("va"));
    EXPECT_EQ(aChecked.count(), 1);
    EXPECT_EQ(b2Unchecked.count(), 1);
    // Both toggles count as changes.
    EXPECT_EQ(d->root->m_lNotificationSources.count(a), 1);
    EXPECT_EQ(d->root->m_lNotificationSources.count(b2), 2);

    EXPECT_TRUE(b->performAction(QStringLiteral("check"), nullptr));
    EXPECT_EQ(group->getValue(), QStringLiteral("renamed"));
    EXPECT_TRUE(a->performAction(QStringLiteral("click"), nullptr));
    EXPECT_EQ(group->getValue(), QStringLiteral("va"));
    EXPECT_EQ(aChecked.count(), 2);
}

TEST_F(KindsButtonsTest, ButtonGroupDefaultPreselectsAndRunsRadioActions)
{
    auto d = show(QStringLiteral(
        "<buttongroup name=\"g\" default=\"2\">"
        "<radiobutton name=\"one\" value=\"1\">"
        "<action signal=\"checked\" slot=\"setvalue\" widget=\"f\" value=\"one\"/></radiobutton>"
        "<radiobutton name=\"two\" value=\"2\"/>"
        "<checkbox name=\"stray\"/>"
        "</buttongroup>"
        "<lineedit name=\"f\"/>"));
    EXPECT_TRUE(d->error.contains(QStringLiteral("ButtonGroup can only contain radio buttons.")))
        << d->error.toStdString();
    EXPECT_EQ(d->find("stray"), nullptr);
    auto* two = d->find<CRadioButton>("two");
    ASSERT_TRUE(two);
    EXPECT_TRUE(two->isChecked());
    EXPECT_FALSE(two->isEmpty());
    d->find<CRadioButton>("one")->performAction(QStringLiteral("check"), nullptr);
    EXPECT_EQ(d->find<CLineEdit>("f")->text(), QStringLiteral("one"));
    EXPECT_EQ(d->find("g")->getValue(), QStringLiteral("1"));
}

TEST_F(KindsButtonsTest, BitMaskCombinesCheckValues)
{
    auto d = show(QStringLiteral("<bitmask name=\"m\" property=\"M\">"
                                 "<checkbox name=\"b1\" checkvalue=\"1\"/>"
                                 "<checkbox name=\"b2\" checkvalue=\"2\"/>"
                                 "<checkbox name=\"b4\" checkvalue=\"4\" uncheckvalue=\"8\"/>"
                                 "<checkbox name=\"bad\" checkvalue=\"x\"/>"
                                 "<radiobutton name=\"r\"/>"
                                 "</bitmask>"));
    EXPECT_TRUE(d->error.contains(QStringLiteral("Bitmask can only contain checkboxes.")));
    EXPECT_EQ(d->find("r"), nullptr);
    auto* mask = d->find<CBitMask>("m");
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->widget(), nullptr);
    // Unchecked b4 contributes its uncheck value.
    EXPECT_EQ(mask->getValue(), QStringLiteral("8"));

    mask->setValue(QStringLiteral("5"));
    EXPECT_TRUE(d->find<CCheckBox>("b1")->isChecked());
    EXPECT_FALSE(d->find<CCheckBox>("b2")->isChecked());
    EXPECT_TRUE(d->find<CCheckBox>("b4")->isChecked());
    EXPECT_FALSE(d->find<CCheckBox>("bad")->isChecked()); // not a number: never checked
    EXPECT_EQ(mask->getValue(), QStringLiteral("5"));
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty()); // the boxes change silently

    mask->setValue(QStringLiteral("-1"));
    EXPECT_FALSE(d->find<CCheckBox>("bad")->isChecked());
    d->find<CCheckBox>("bad")->click(); // checked, but "x" counts as 0
    mask->setValue(QStringLiteral("junk"));
    EXPECT_EQ(mask->getValue(), QStringLiteral("8"));
    clickIndicator(d->find<CCheckBox>("b2"));
    EXPECT_EQ(mask->getValue(), QStringLiteral("10"));
}

TEST_F(KindsButtonsTest, PushButtonDefaultCaptionAndClicks)
{
    auto d = show(QStringLiteral(
        "<pushbutton name=\"ok\" title=\"OK\" default=\"TRUE\">"
        "<action signal=\"clicked\" slot=\"setvalue\" widget=\"f\" value=\"pressed\"/>"
        "</pushbutton>"
        "<pushbutton name=\"plain\" default=\"f\"/><lineedit name=\"f\"/>"));
    auto* ok = d->find<CButton>("ok");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_FALSE(d->find<CButton>("plain")->isDefault());
    EXPECT_EQ(ok->getValue(), QString()); // the default is no value

    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(d->find<CLineEdit>("f")->text(), QStringLiteral("pressed"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(ok), 1);
    d->find<CLineEdit>("f")->clear();
    EXPECT_TRUE(ok->performAction(QStringLiteral("click"), nullptr));
    EXPECT_EQ(d->find<CLineEdit>("f")->text(), QStringLiteral("pressed"));
    EXPECT_EQ(d->root->m_lNotificationSources.count(ok), 2);

    for (const char* body :
         {"<pushbutton name=\"b\" default=\"yes\"/>", "<link name=\"b\" default=\"1\"/>"})
    {
        auto bad = load(wrap(QString::fromUtf8(body)));
        EXPECT_EQ(bad->parseResult, 1);
        EXPECT_EQ(bad->error,
                  QStringLiteral("Incorrect value for \"default\" attribute in "
                                 "object \"b\": %1")
                      .arg(QLatin1String(body[0] == '<' && body[1] == 'p' ? "yes" : "1")));
    }
}

TEST_F(KindsButtonsTest, LinkImagesFollowThePointer)
{
    const QString dir = QDir::currentPath();
    auto makeImage = [&](const QString& name, Qt::GlobalColor color)
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(color);
        const QString path = dir + QLatin1Char('/') + name;
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    };
    const QString up = makeImage(QStringLiteral("up.png"), Qt::red);
    const QString down = makeImage(QStringLiteral("down.png"), Qt::green);
    const QString hover = makeImage(QStringLiteral("hover.png"), Qt::blue);
    auto d = show(QStringLiteral("<link name=\"l\" tooltip=\"help\" hovericon=\"%3\" "
                                 "downicon=\"%2\" upicon=\"%1\"/>"
                                 "<link name=\"single\" icon=\"%1\"/>")
                      .arg(up, down, hover));
    auto* link = d->find<CHyperLink>("l");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isFlat());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    auto colour = [](const QPixmap& image) { return image.toImage().pixelColor(0, 0); };
    EXPECT_EQ(colour(link->shownImage()), QColor(Qt::red));
    EXPECT_FALSE(link->icon().isNull());

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(colour(link->shownImage()), QColor(Qt::blue));
    QTest::mousePress(link, Qt::LeftButton);
    EXPECT_EQ(colour(link->shownImage()), QColor(Qt::green));
    QTest::mouseRelease(link, Qt::LeftButton);
    EXPECT_EQ(colour(link->shownImage()), QColor(Qt::blue));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(colour(link->shownImage()), QColor(Qt::red));
    // A link never shows mouse-over help, even with a tooltip.
    EXPECT_TRUE(d->root->m_lMouseOverTexts.isEmpty());
    // "icon" alone serves for every state.
    auto* single = d->find<CHyperLink>("single");
    QTest::mousePress(single, Qt::LeftButton);
    EXPECT_EQ(colour(single->shownImage()), QColor(Qt::red));
    QTest::mouseRelease(single, Qt::LeftButton);
}

TEST_F(KindsButtonsTest, MouseOverHelpReachesTheRoot)
{
    auto d = show(QStringLiteral("<pushbutton name=\"p\" tooltip=\"push help\"/>"
                                 "<checkbox name=\"c\" tooltip=\"check help\"/>"
                                 "<radiobutton name=\"r\" tooltip=\"radio help\"/>"
                                 "<label name=\"l\" tooltip=\"label help\"/>"
                                 "<lineedit name=\"e\" tooltip=\"edit help\"/>"
                                 "<pushbutton name=\"silent\"/>"));
    QStringList expected;
    for (const char* name : {"p", "c", "r", "l", "e", "silent"})
    {
        auto* object = d->find<CXmlWidget>(QString::fromLatin1(name));
        ASSERT_TRUE(object) << name;
        QEvent enter(QEvent::Enter);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(object->widget(), &enter);
        QApplication::sendEvent(object->widget(), &leave);
        if (!object->getTessaryDetails().isEmpty())
            expected << object->getTessaryDetails() << QString();
    }
    EXPECT_EQ(expected.size(), 10);
    EXPECT_EQ(d->root->m_lMouseOverTexts, expected);

    QSignalSpy enterSpy(d->find<CLabel>("l"), &CLabel::mouseEnterWidget);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(d->find<CLabel>("l"), &enter);
    ASSERT_EQ(enterSpy.count(), 1);
    EXPECT_EQ(enterSpy.at(0).at(0).toString(), QStringLiteral("label help"));
}
