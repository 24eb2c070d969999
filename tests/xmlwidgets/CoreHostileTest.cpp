#include "FrameworkTestSupport.h"
#include "shared/XmlWidgets/Container.h"
#include "shared/XmlWidgets/TextEdit.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <memory>
#include <tinyxml.h>

using namespace FrameworkTest;

namespace
{
class CoreHostile : public FrameworkFixture
{
};

QString nested(int levels, const QString& open, const QString& close)
{
    QString text;
    text.reserve(levels * (open.size() + close.size()));
    for (int i = 0; i < levels; ++i)
        text += open;
    for (int i = 0; i < levels; ++i)
        text += close;
    return text;
}
} // namespace

TEST_F(CoreHostile, DeepNestingIsRefusedBeforeTinyXmlRecurses)
{
    const QString deep = nested(100000, "<container layout='vertical'>", "</container>");
    auto d = load(wrap(deep));
    EXPECT_EQ(d->readResult, 1);
    EXPECT_EQ(d->error, "Elements are nested deeper than 128 levels.");

    // Just within the limit (the root counts as one level) everything loads.
    d = load(wrap(nested(127, "<container layout='vertical'>", "</container>")));
    EXPECT_TRUE(d->ok()) << d->error.toStdString();
    d = load(wrap(nested(128, "<container layout='vertical'>", "</container>")));
    EXPECT_EQ(d->readResult, 1);
}

TEST_F(CoreHostile, DepthScanFollowsTinyXmlsReading)
{
    const struct
    {
        const char* xml;
        int depth;
    } cases[] = {
        {"<a><b/><c></c></a>", 2},
        {"<a><!-- <b><b><b> --></a>", 1},
        {"<a><![CDATA[<b><b>]]></a>", 1},
        {"<a x='</a>'><b y=\"></b>\"><c/></b></a>", 3},
        {"<?xml version='1.0' foo='>'?><a><b></b></a>", 2},
        {"<!DOCTYPE a><a>text < 3 <b>x</b></a>", 1}, // "< 3 <b>" is one unknown node
        {"</x></x><a><b><c>", 3}, // stray closing tags never lower the count below zero
        {"<\xc3\xa4><\xc3\xb6/></\xc3\xa4>", 2},
        {"<?xml\x01ln/><e/>", 1},
        // A stray UTF-8 lead byte takes the next bytes with it, '<' and quotes too.
        {"<a>\xd4</a><b/></a>", 2},
        {"<a x='\xd4'></a>'><b/></a>", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CXmlDefinitionReader::nestingDepth(c.xml), c.depth) << c.xml;
}

TEST_F(CoreHostile, DeepTreesBuiltInMemoryAreRefusedByTheParse)
{
    TiXmlDocument document;
    TiXmlElement* element = new TiXmlElement("root");
    element->SetAttribute("layout", "vertical");
    document.LinkEndChild(element);
    for (int i = 0; i < 200; ++i)
    {
        auto* child = new TiXmlElement("container");
        child->SetAttribute("layout", "vertical");
        element->LinkEndChild(child);
        element = child;
    }
    CTestRoot root;
    QString error;
    EXPECT_EQ(root.parse(document.RootElement(), error), 1);
    EXPECT_EQ(error, "Elements are nested deeper than 128 levels.");
    EXPECT_EQ(root.parse(nullptr, error), 1);
    EXPECT_EQ(error, "No element to read the object from.");
}

TEST_F(CoreHostile, WideAndOddDefinitionsLoadOrFailWithAMessage)
{
    QString siblings;
    for (int i = 0; i < 5000; ++i)
        siblings += QStringLiteral("<testfield name='f%1'/><unknown%1 a='b'/>").arg(i);
    auto d = load(wrap(siblings));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    EXPECT_EQ(d->root->childObjects().size(), 5000);

    const QString huge(4 * 1024 * 1024, QLatin1Char('x'));
    d = load(wrap(
        QStringLiteral("<testfield name='big' default='%1' tooltip='%1' style='%1'/>").arg(huge)));
    ASSERT_TRUE(d->ok());
    EXPECT_EQ(d->find("big")->getValue().size(), huge.size());

    for (const char* bad : {"", "<", "<root", "<root version='1.8'>", "text only",
                            "<root version='1.8'></wrong>", "<a b='c></a>"})
    {
        d = load(bad);
        EXPECT_EQ(d->readResult, 1) << bad;
        EXPECT_FALSE(d->error.isEmpty());
    }
}

TEST_F(CoreHostile, TextCutInsideAUtf8SequenceFailsWithoutReadingPastIt)
{
    // TinyXML steps over a whole UTF-8 sequence from its lead byte; one cut off at
    // the end of the text must not take it past the bytes (the sanitizer build
    // checks the reads).
    for (const char* tail : {"\xe3", "\xf0\x9f", "\xc3"})
    {
        for (const QByteArray& head :
             {QByteArray("<root><a v=\"x"), QByteArray("<root><a"), QByteArray("<root>text")})
        {
            TiXmlDocument document;
            QString error;
            EXPECT_EQ(CXmlDefinitionReader::read(head + tail, document, error), 1);
            EXPECT_FALSE(error.isEmpty());
        }
    }
}

TEST_F(CoreHostile, NameLookupsFollowTheTreeAsItChanges)
{
    auto d = load(wrap("<container name='a' layout='vertical'><checkbox name='x'/></container>"
                       "<checkbox name='x'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    CXmlObject* const root = d->root.get();
    EXPECT_EQ(root->findChildObjects("x"), root->findNamedObjects("x"));
    EXPECT_EQ(2, root->findNamedObjects("x").size());
    // An object made, renamed or destroyed afterwards is seen at once.
    auto* container = d->find<CContainer>("a");
    ASSERT_TRUE(container);
    QString error;
    TiXmlElement element("checkbox");
    element.SetAttribute("name", "x");
    CXmlWidget* added = container->createWidget("checkbox", error);
    ASSERT_TRUE(added);
    EXPECT_EQ(2, root->findNamedObjects("x").size());
    ASSERT_EQ(0, added->parse(&element, error));
    EXPECT_EQ(root->findChildObjects("x"), root->findNamedObjects("x"));
    EXPECT_EQ(3, root->findNamedObjects("x").size());
    delete d->find<QCheckBox>("x");
    EXPECT_EQ(root->findChildObjects("x"), root->findNamedObjects("x"));
    EXPECT_EQ(2, root->findNamedObjects("x").size());
}

TEST_F(CoreHostile, UnbrokenTextKeepsItsValueAndWrapsAnywhere)
{
    const QString text(300 * 1024, QLatin1Char('x'));
    auto d = load(wrap("<textedit name='t' title='" + text + "'/><label name='l' title='" + text +
                       "'/><textedit name='w' title='a few words'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    CTextEdit* const edit = d->find<CTextEdit>("t");
    ASSERT_TRUE(edit);
    EXPECT_EQ(text, edit->getValue());
    EXPECT_EQ(QTextOption::WrapAnywhere, edit->wordWrapMode());
    // Ordinary text keeps wrapping at word boundaries.
    EXPECT_NE(QTextOption::WrapAnywhere, d->find<CTextEdit>("w")->wordWrapMode());
    edit->setValue("short words again");
    EXPECT_NE(QTextOption::WrapAnywhere, edit->wordWrapMode());
    // A caption that long is cut short.
    QLabel* const label = d->find<QLabel>("l");
    ASSERT_TRUE(label);
    EXPECT_EQ(16385, label->text().size());
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026)));
}

TEST_F(CoreHostile, LongParagraphsAreShownFoldedAndKeepTheirValueThroughEditing)
{
    // A long unbroken paragraph, a short one, a long one of words, then astral
    // characters whose halves must never be split by a fold.
    QString astral;
    for (int i = 0; i < 6000; ++i)
        astral += QString::fromUcs4(U"\U0001F600");
    const QString text = QString(100 * 1024, QLatin1Char('x')) + "\nshort\n" +
                         QStringLiteral("a few words ").repeated(2000) + "\n" + astral;
    auto d = load(wrap("<textedit name='t' title='" + text + "'/><textedit name='r' title='" +
                       text + "' readonly='t'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    CTextEdit* const edit = d->find<CTextEdit>("t");
    ASSERT_TRUE(edit);
    EXPECT_EQ(text, edit->getValue());
    // Shown as many small blocks (laid out only when seen), none starting mid-character.
    EXPECT_GT(edit->document()->blockCount(), 30);
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next())
        ASSERT_FALSE(!block.text().isEmpty() && block.text().at(0).isLowSurrogate());

    // A copy across a fold holds the value, not the break shown on screen.
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(4000);
    cursor.setPosition(9000, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
    edit->copy();
    EXPECT_EQ(text.mid(4000, 4998), QApplication::clipboard()->text());

    // Typing after a few folds edits the value at the same place.
    int changes = 0;
    QObject::connect(edit, &QPlainTextEdit::textChanged, [&] { ++changes; });
    cursor.setPosition(20000);
    edit->setTextCursor(cursor);
    QTest::keyClick(edit, Qt::Key_Z);
    QString expected = text;
    expected.insert(20000 - 20000 / 4097, QLatin1Char('z'));
    EXPECT_EQ(expected, edit->getValue());
    EXPECT_EQ(1, changes);
    EXPECT_FALSE(edit->isReadOnly());
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(text, edit->getValue());

    // Its menu, asked for by whoever adds to it, offers Paste on the folded text.
    edit->setValue(text);
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    std::unique_ptr<QMenu> menu(edit->createContextMenu(QPoint()));
    bool paste = false;
    for (QAction* const action : menu->actions())
        paste =
            paste || (action->objectName() == QLatin1String("edit-paste") && action->isEnabled());
    EXPECT_TRUE(paste);
    EXPECT_EQ(text, edit->getValue());

    // Text set around the folding replaces it.
    edit->setValue(text);
    edit->setPlainText(QStringLiteral("plain"));
    EXPECT_EQ(QStringLiteral("plain"), edit->getValue());

    // A read-only text stays as it is.
    CTextEdit* const readOnly = d->find<CTextEdit>("r");
    QTest::keyClick(readOnly, Qt::Key_Z);
    EXPECT_EQ(text, readOnly->getValue());
    EXPECT_TRUE(readOnly->isReadOnly());
}
