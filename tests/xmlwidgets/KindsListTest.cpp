// Combo box and entries, label, lines, container and the element table.

#include "FrameworkTestSupport.h"

#include "shared/XmlWidgets/BitMask.h"
#include "shared/XmlWidgets/Button.h"
#include "shared/XmlWidgets/ButtonGroup.h"
#include "shared/XmlWidgets/CheckBox.h"
#include "shared/XmlWidgets/ComboBox.h"
#include "shared/XmlWidgets/ComboBoxItem.h"
#include "shared/XmlWidgets/Container.h"
#include "shared/XmlWidgets/HLine.h"
#include "shared/XmlWidgets/HyperLink.h"
#include "shared/XmlWidgets/Label.h"
#include "shared/XmlWidgets/LineEdit.h"
#include "shared/XmlWidgets/NumberEdit.h"
#include "shared/XmlWidgets/RadioButton.h"
#include "shared/XmlWidgets/SpinBox.h"
#include "shared/XmlWidgets/TextEdit.h"
#include "shared/XmlWidgets/VLine.h"
#include "shared/XmlWidgets/WidgetKinds.h"

#include <QBuffer>
#include <QGridLayout>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace FrameworkTest;

namespace
{
class KindsListTest : public FrameworkFixture
{
};
} // namespace

TEST_F(KindsListTest, ElementTableCreatesEveryKindCaseSensitively)
{
    CTestRoot root;
    const struct
    {
        const char* name;
        std::function<bool(CXmlWidget*)> isKind;
    } table[] = {
        {"radiobutton", [](CXmlWidget* w) { return dynamic_cast<CRadioButton*>(w); }},
        {"checkbox", [](CXmlWidget* w) { return dynamic_cast<CCheckBox*>(w); }},
        {"label", [](CXmlWidget* w) { return dynamic_cast<CLabel*>(w); }},
        {"link", [](CXmlWidget* w) { return dynamic_cast<CHyperLink*>(w); }},
        {"pushbutton",
         [](CXmlWidget* w) { return dynamic_cast<CButton*>(w) && !dynamic_cast<CHyperLink*>(w); }},
        {"lineedit", [](CXmlWidget* w)
         { return dynamic_cast<CLineEdit*>(w) && !dynamic_cast<CNumberEdit*>(w); }},
        {"numberedit", [](CXmlWidget* w) { return dynamic_cast<CNumberEdit*>(w); }},
        {"textedit", [](CXmlWidget* w) { return dynamic_cast<CTextEdit*>(w); }},
        {"spinbox", [](CXmlWidget* w) { return dynamic_cast<CSpinBox*>(w); }},
        {"combobox", [](CXmlWidget* w) { return dynamic_cast<CComboBox*>(w); }},
        {"container", [](CXmlWidget* w) { return dynamic_cast<CContainer*>(w); }},
        {"buttongroup", [](CXmlWidget* w) { return dynamic_cast<CButtonGroup*>(w); }},
        {"bitmask", [](CXmlWidget* w) { return dynamic_cast<CBitMask*>(w); }},
        {"hline",
         [](CXmlWidget* w)
         {
             auto* line = dynamic_cast<CHLine*>(w);
             return line && line->frameShape() == QFrame::HLine;
         }},
        {"vline",
         [](CXmlWidget* w)
         {
             auto* line = dynamic_cast<CVLine*>(w);
             return line && line->frameShape() == QFrame::VLine;
         }},
    };
    for (const auto& entry : table)
    {
        CXmlWidget* object = createBuiltinWidget(QString::fromLatin1(entry.name), &root);
        ASSERT_NE(object, nullptr) << entry.name;
        EXPECT_TRUE(entry.isKind(object)) << entry.name;
        EXPECT_EQ(object->parentObject(), &root);
        if (QWidget* widget = object->widget())
        {
            EXPECT_EQ(widget->parentWidget(), &root) << entry.name;
        }
    }
    EXPECT_EQ(root.childObjects().size(), 15);
    EXPECT_EQ(createBuiltinWidget(QStringLiteral("CheckBox"), &root), nullptr);
    EXPECT_EQ(createBuiltinWidget(QStringLiteral("entry"), &root), nullptr);
    EXPECT_EQ(createBuiltinWidget(QStringLiteral("checkbox"), nullptr), nullptr);

    auto d = load(wrap(QStringLiteral("<CheckBox name=\"c\"/>")));
    EXPECT_TRUE(d->ok());
    EXPECT_EQ(d->find("c"), nullptr);
    EXPECT_EQ(d->error, QStringLiteral("Unknown widget: CheckBox"));
}

TEST_F(KindsListTest, ComboBoxEntriesValuesAndSelection)
{
    auto d = load(wrap(QStringLiteral(
        "<combobox name=\"c\" property=\"C\" default=\"b\">"
        "<entry name=\"ea\" title=\"Alpha\" value=\"a\"/>"
        "<entry name=\"eb\" title=\"Beta\" value=\"b\">"
        "<action signal=\"selected\" slot=\"setvalue\" widget=\"f\" value=\"beta chosen\"/>"
        "</entry>"
        "<entry name=\"eb2\" title=\"Beta again\" value=\"b\"/>"
        "</combobox>"
        "<combobox name=\"empty\"/>"
        "<lineedit name=\"f\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* combo = d->find<CComboBox>("c");
    auto* field = d->find<CLineEdit>("f");
    ASSERT_TRUE(combo && field);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Alpha"));
    EXPECT_EQ(combo->entryAt(1), d->find<CComboBoxItem>("eb"));
    EXPECT_EQ(d->find<CComboBoxItem>("eb")->widget(), nullptr);
    EXPECT_EQ(d->find<CComboBoxItem>("eb")->comboBox(), combo);
    // The default selects the first entry with that value, running its actions.
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(combo->getValue(), QStringLiteral("b"));
    EXPECT_EQ(field->text(), QStringLiteral("beta chosen"));
    EXPECT_TRUE(d->find("empty")->getValue().isEmpty());

    QSignalSpy alphaSelected(d->find<CComboBoxItem>("ea"), &CComboBoxItem::selected);
    const int before = d->root->m_lNotificationSources.count(combo);
    combo->setValue(QStringLiteral("a"));
    EXPECT_EQ(combo->getValue(), QStringLiteral("a"));
    EXPECT_EQ(alphaSelected.count(), 1);
    EXPECT_EQ(d->root->m_lNotificationSources.count(combo), before + 1);
    combo->setValue(QStringLiteral("zzz"));
    EXPECT_EQ(combo->getValue(), QStringLiteral("a"));

    // Choosing with the keyboard works like setValue.
    field->clear();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(combo->getValue(), QStringLiteral("b"));
    EXPECT_EQ(field->text(), QStringLiteral("beta chosen"));
    // Renaming an entry's value is seen through the combo box.
    d->find("eb")->setValue(QStringLiteral("renamed"));
    EXPECT_EQ(combo->getValue(), QStringLiteral("renamed"));
}

TEST_F(KindsListTest, ComboBoxRejectsBadEntries)
{
    const struct
    {
        const char* body;
        int result;
        const char* error;
    } cases[] = {
        {"<combobox name=\"c\"><entry value=\"v\"/></combobox>", 1,
         "Attribute \"title\" not found in ComboBox entry"},
        {"<combobox name=\"c\"><entry title=\"T\" value=\"\"/></combobox>", 1,
         "Attribute \"value\" not found in ComboBox entry"},
        {"<combobox name=\"c\"><checkbox name=\"x\"/></combobox>", 0,
         "Widget \"checkbox\" no supported in ComboBox"},
        {"<combobox name=\"c\"><entry title=\"T\" value=\"v\">"
         "<action signal=\"clicked\" slot=\"hide\" widget=\"c\"/></entry></combobox>",
         0, "Unsupported signal in ComboBox entry: clicked"},
    };
    for (const auto& test : cases)
    {
        auto d = load(wrap(QString::fromUtf8(test.body)));
        EXPECT_EQ(d->parseResult, test.result) << test.body;
        EXPECT_EQ(d->error, QString::fromUtf8(test.error)) << test.body;
    }

    CTestRoot root;
    CComboBox combo(&root, &root);
    CTestField field(&root, &root);
    QString error;
    EXPECT_EQ(combo.addWidget(QStringLiteral("entry"), &field, nullptr, error), 1);
    EXPECT_EQ(error, QStringLiteral("Only entry items are allowed in ComboBox."));
}

TEST_F(KindsListTest, FirstEntrySelectsItselfWhileStillParsing)
{
    auto d = load(wrap(
        QStringLiteral("<combobox name=\"c\"><entry title=\"First\" value=\"1\">"
                       "<action signal=\"selected\" slot=\"setvalue\" widget=\"f\" value=\"ran\"/>"
                       "</entry></combobox><lineedit name=\"f\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    // The selection happened before names were resolved: it reached nothing.
    EXPECT_TRUE(d->find("f")->getValue().isEmpty());
    EXPECT_EQ(d->find("c")->getValue(), QStringLiteral("1"));
}

TEST_F(KindsListTest, LabelCaptionBuddyWrapInteractionAndClicks)
{
    auto d = load(wrap(QStringLiteral(
        "<label name=\"l\" title=\"&amp;Name:\" buddy=\"target\" wrap=\"T\">"
        "<action signal=\"clicked\" slot=\"setvalue\" widget=\"f\" value=\"clicked\"/>"
        "<action signal=\"doubleclicked\" slot=\"setvalue\" widget=\"g\" value=\"double\"/>"
        "</label>"
        "<container name=\"box\" layout=\"horizontal\"><lineedit name=\"target\"/></container>"
        "<label name=\"plain\" wrap=\"true\" interaction=\"0\"/>"
        "<label name=\"junk\" interaction=\"many\"/>"
        "<label name=\"link\" title=\"See &lt;a href=&quot;#x&quot;&gt;x&lt;/a&gt;\"/>"
        "<lineedit name=\"f\"/><lineedit name=\"g\"/>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* label = d->find<CLabel>("l");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), QStringLiteral("&Name:"));
    EXPECT_EQ(label->buddy(), d->find<CLineEdit>("target"));
    EXPECT_TRUE(label->wordWrap());
    // A plain caption is no Tab stop; only one with a link is reachable by keyboard.
    EXPECT_EQ(int(label->textInteractionFlags()), 5);
    EXPECT_FALSE(label->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(int(d->find<CLabel>("link")->textInteractionFlags()), 13);
    EXPECT_TRUE(d->find<CLabel>("link")->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(d->find<CLabel>("plain")->wordWrap()); // only "t" switches it on
    EXPECT_EQ(int(d->find<CLabel>("plain")->textInteractionFlags()), 0);
    EXPECT_EQ(int(d->find<CLabel>("junk")->textInteractionFlags()), 5);
    EXPECT_EQ(label->getValue(), QString());
    label->setValue(QStringLiteral("ignored"));
    EXPECT_EQ(label->getValue(), QString());

    QSignalSpy clicked(label, &CLabel::clicked);
    QSignalSpy doubleClicked(label, &CLabel::doubleClicked);
    label->resize(100, 20);
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(d->find("f")->getValue(), QStringLiteral("clicked"));
    QTest::mouseDClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(doubleClicked.count(), 1);
    EXPECT_EQ(d->find("g")->getValue(), QStringLiteral("double"));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(500, 500));
    const int clicksSoFar = clicked.count();
    EXPECT_TRUE(label->performAction(QStringLiteral("click"), nullptr));
    EXPECT_TRUE(label->performAction(QStringLiteral("doubleclick"), nullptr));
    EXPECT_EQ(clicked.count(), clicksSoFar + 1);
    EXPECT_EQ(doubleClicked.count(), 2);
    // Label changes never mark the document.
    EXPECT_EQ(d->root->m_lNotificationSources.count(label), 0);
}

TEST_F(KindsListTest, LabelImageFromElementText)
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(Qt::yellow);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    auto d = load(wrap(QStringLiteral("<label name=\"pic\" title=\"caption\">%1</label>")
                           .arg(QString::fromLatin1(png.toBase64()))));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* label = d->find<CLabel>("pic");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->pixmap(Qt::ReturnByValue).size(), QSize(3, 2));

    auto bad = load(wrap(QStringLiteral("<label name=\"broken\">bm90IGEgcG5n</label>")));
    EXPECT_EQ(bad->parseResult, 1);
    EXPECT_EQ(bad->error, QStringLiteral("Failed to read image data from label \"broken\""));
}

TEST_F(KindsListTest, ContainerLayoutHasNoMarginsAndLinesHaveNoValue)
{
    auto d = load(
        wrap(QStringLiteral("<container name=\"grid\" layout=\"grid\"><hline name=\"h\" row=\"0\"/>"
                            "<vline name=\"v\" row=\"1\" col=\"2\"/></container>"
                            "<container name=\"none\"><buttongroup name=\"g\"/></container>")));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* grid = d->find<CContainer>("grid");
    ASSERT_TRUE(grid && grid->gridLayout());
    EXPECT_EQ(grid->gridLayout()->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(grid->gridLayout()->count(), 2);
    EXPECT_EQ(d->find<CContainer>("none")->layout(), nullptr);
    EXPECT_EQ(grid->getValue(), QString());
    EXPECT_EQ(d->find("h")->getValue(), QString());
    d->find("v")->setValue(QStringLiteral("x"));
    EXPECT_EQ(d->find("v")->getValue(), QString());

    auto unplaced = load(wrap(QStringLiteral("<container name=\"c\"><hline/></container>")));
    EXPECT_EQ(unplaced->parseResult, 1);
    EXPECT_EQ(unplaced->error, QStringLiteral("No layout specified."));
}
