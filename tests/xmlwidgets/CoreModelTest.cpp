#include "FrameworkTestSupport.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Container.h"

#include <localization/Localization.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPixmap>

using namespace FrameworkTest;

namespace
{
class CoreModel : public FrameworkFixture
{
};

QByteArray pngBytes(int width, int height)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage(width, height, QImage::Format_ARGB32).save(&buffer, "PNG");
    return bytes;
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xffffffffu;
    for (char byte : data)
    {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG signature and header chunk claiming the given size, with a valid CRC.
QByteArray forgedPngHeader(quint32 width, quint32 height)
{
    QByteArray chunk("IHDR");
    for (quint32 v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            chunk.append(char((v >> shift) & 0xff));
    chunk.append("\x08\x06\x00\x00\x00", 5);
    const quint32 crc = crc32(chunk);
    QByteArray png("\x89PNG\r\n\x1a\n\x00\x00\x00\x0d", 12);
    png += chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        png.append(char((crc >> shift) & 0xff));
    return png;
}

int readPixmapFrom(const QByteArray& text, QPixmap& pixmap)
{
    CTestRoot root;
    TiXmlElement element("label");
    if (!text.isNull())
        element.LinkEndChild(new TiXmlText(text.constData()));
    return root.readPixmap(&element, pixmap);
}
} // namespace

TEST_F(CoreModel, ConvertsAttributesAndFindsLanguageFiles)
{
    CTestRoot root;
    EXPECT_EQ(root.language(), "en_US");
    EXPECT_EQ(root.convertAttribute(nullptr), "");
    EXPECT_EQ(root.convertAttribute("%OS%/%LANGUAGE%/%OS%"), "Mac/en_US/Mac");
    EXPECT_EQ(root.translate(nullptr), "");
    EXPECT_EQ(root.translate("Plain"), "Plain");

    // A German user: the German file wins when it exists, English is the fallback.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    Localization::Initialize(L"Tessary", L"Localizable", L"", nullptr);
    CTestRoot german;
    Localization::UnInitialize();
    ASSERT_EQ(german.language(), "de_DE");
    const char* pattern = "%OS%-%LANGUAGE%.txt";
    EXPECT_EQ(german.convertAttribute(pattern), "Mac-de_DE.txt");
    EXPECT_EQ(german.convertFileAttribute(pattern), "Mac-de_DE.txt"); // neither exists
    QFile english("Mac-en_US.txt");
    ASSERT_TRUE(english.open(QIODevice::WriteOnly));
    english.close();
    EXPECT_EQ(german.convertFileAttribute(pattern), "Mac-en_US.txt");
    QFile local("Mac-de_DE.txt");
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.close();
    EXPECT_EQ(german.convertFileAttribute(pattern), "Mac-de_DE.txt");
}

TEST_F(CoreModel, DecodesElementDataStrictly)
{
    CTestRoot root;
    TiXmlElement empty("x");
    EXPECT_TRUE(root.elementData(&empty).isEmpty());
    EXPECT_TRUE(root.elementData(nullptr).isEmpty());

    auto d = load(wrap("<container name='c'> aGVs\n bG8= </container>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    TiXmlElement* element = d->document.RootElement()->FirstChildElement();
    EXPECT_EQ(root.elementData(element), "hello");

    TiXmlElement bad("x");
    bad.LinkEndChild(new TiXmlText("aGVs*bG8="));
    EXPECT_TRUE(root.elementData(&bad).isEmpty());
}

TEST_F(CoreModel, ReadsOnlyReasonablePngImages)
{
    QPixmap pixmap;
    EXPECT_EQ(readPixmapFrom(QByteArray(), pixmap), 2);
    EXPECT_EQ(readPixmapFrom(pngBytes(3, 2).toBase64(), pixmap), 0);
    EXPECT_EQ(pixmap.size(), QSize(3, 2));
    EXPECT_EQ(readPixmapFrom("!!!!", pixmap), 1);                             // not Base64
    EXPECT_EQ(readPixmapFrom(QByteArray("hello").toBase64(), pixmap), 1);     // not PNG
    EXPECT_EQ(readPixmapFrom(pngBytes(3, 2).left(40).toBase64(), pixmap), 1); // truncated
    EXPECT_EQ(readPixmapFrom(forgedPngHeader(100000, 100000).toBase64(), pixmap), 1);
    EXPECT_EQ(pixmap.size(), QSize(3, 2)); // failures leave the pixmap alone
}

TEST_F(CoreModel, InitialisationAppliesDefaultsQuietlyThenNotifies)
{
    auto d = load(wrap("<container name='c' layout='vertical'><testfield name='f' default='x'/>"
                       "</container><testfield name='g'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* field = d->find<CTestField>("f");
    auto* container = d->find("c");
    EXPECT_EQ(field->getValue(), "x");
    EXPECT_TRUE(field->hasDefault());
    EXPECT_TRUE(field->isInitialized());
    EXPECT_TRUE(d->root->m_lNotificationSources.isEmpty());
    EXPECT_FALSE(d->root->isChanged());

    field->setValue("y");
    EXPECT_EQ(d->root->m_lNotificationSources, QList<CXmlObject*>({field}));
    EXPECT_TRUE(field->isChanged());
    EXPECT_TRUE(container->isChanged());
    EXPECT_TRUE(d->root->isChanged());
    EXPECT_FALSE(d->find("g")->isChanged());

    d->root->resetChanged(false);
    EXPECT_FALSE(d->root->isChanged());
    EXPECT_TRUE(field->isChanged());
    d->root->changed();
    d->root->resetChanged(true);
    EXPECT_FALSE(container->isChanged());
    EXPECT_FALSE(field->isChanged());
}

TEST_F(CoreModel, FailedResolutionSkipsValues)
{
    auto d = load(wrap("<testfield name='f' default='x'>"
                       "<action signal='s' slot='setvalue' widget='missing' value='1'/>"
                       "</testfield>"));
    EXPECT_EQ(d->parseResult, 0);
    EXPECT_EQ(d->initResult, 1);
    EXPECT_EQ(d->error, "Could not find widget \"missing\"");
    EXPECT_EQ(d->find<CTestField>("f")->getValue(), "");
    EXPECT_FALSE(d->find("f")->isInitialized());
}

TEST_F(CoreModel, FindsObjectsDepthFirst)
{
    auto d = load("<root version='1.8' name='n' layout='vertical'>"
                  "<container name='n' layout='vertical'><testfield name='n'/></container>"
                  "<testfield name='n'/><testfield name='other'/></root>");
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    const QList<CXmlObject*> found = d->root->findChildObjects("n");
    ASSERT_EQ(found.size(), 4);
    EXPECT_EQ(found[0], d->root.get());
    EXPECT_NE(dynamic_cast<CContainer*>(found[1]), nullptr);
    EXPECT_EQ(found[2]->parentObject(), found[1]);
    EXPECT_EQ(found[3]->parentObject(), d->root.get());
    // Below the root the object itself is not included.
    EXPECT_EQ(found[1]->findChildObjects("n"), QList<CXmlObject*>({found[2]}));
    EXPECT_EQ(found[2]->rootObject(), d->root.get());
    EXPECT_EQ(static_cast<CXmlWidget*>(found[2])->rootWidget(), d->root.get());
}

TEST_F(CoreModel, MouseOverTextReachesTheRoot)
{
    auto d = load(wrap("<testfield name='f' tooltip='Help'/>"));
    ASSERT_TRUE(d->ok());
    auto* field = d->find<CTestField>("f");
    field->onMouseOverWidget(field->getTessaryDetails());
    field->onMouseOverWidget(QString());
    EXPECT_EQ(d->root->m_lMouseOverTexts, QStringList({"Help", ""}));
}

TEST_F(CoreModel, CommonSlotsNeedAWidget)
{
    auto d = load(wrap("<testfield name='f'/>"));
    ASSERT_TRUE(d->ok());
    auto* field = d->find<CTestField>("f");
    d->root->show();
    EXPECT_TRUE(field->performAction("disable", nullptr));
    EXPECT_FALSE(field->isEnabled());
    EXPECT_TRUE(field->performAction("hide", nullptr));
    EXPECT_TRUE(field->isHidden());
    EXPECT_TRUE(field->performAction("Show", nullptr)); // unknown names succeed, do nothing
    EXPECT_TRUE(field->isHidden());
    EXPECT_TRUE(field->performAction("show", nullptr));
    EXPECT_TRUE(field->performAction("enable", nullptr));
    EXPECT_TRUE(field->isVisible());
    EXPECT_TRUE(field->isEnabled());
    CXmlObject plain(nullptr);
    EXPECT_FALSE(plain.performAction("show", nullptr));
}
