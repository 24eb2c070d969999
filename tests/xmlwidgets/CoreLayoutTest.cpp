#include "FrameworkTestSupport.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Container.h"
#include "shared/XmlWidgets/GalleryObsoleteException.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QStackedLayout>

using namespace FrameworkTest;

namespace
{
class CoreLayout : public FrameworkFixture
{
};

std::unique_ptr<Definition> inContainer(const char* layout, const QString& children)
{
    return load(wrap(QStringLiteral("<container name='c' layout='%1'>%2</container>")
                         .arg(QLatin1String(layout), children)));
}
} // namespace

TEST_F(CoreLayout, BoxLayoutsKeepDocumentOrderStretchAndAlignment)
{
    auto d = inContainer("horizontal", "<testfield name='a' stretch=' 3abc'/>"
                                       "<testfield name='b' ALIGN='right'/>");
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* container = d->find<CContainer>("c");
    QBoxLayout* box = container->boxLayout();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->direction(), QBoxLayout::LeftToRight);
    EXPECT_EQ(box->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(box->itemAt(0)->widget(), d->find<CTestField>("a"));
    EXPECT_EQ(box->stretch(0), 3);
    EXPECT_EQ(box->itemAt(1)->alignment(), Qt::AlignRight);

    d = inContainer("vertical", "<testfield align='center'/>");
    ASSERT_TRUE(d->ok());
    box = d->find<CContainer>("c")->boxLayout();
    EXPECT_EQ(box->direction(), QBoxLayout::TopToBottom);
    EXPECT_EQ(box->itemAt(0)->alignment(), Qt::AlignCenter);
}

TEST_F(CoreLayout, GridPlacesSpansStretchesAndMinimums)
{
    auto d = inContainer("grid", "<testfield name='a' row='1' col='2' cspan='2' rstretch='4'"
                                 " cstretch='0' minheight='30' minwidth='40' align='top'/>"
                                 "<testfield name='b'/>");
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    QGridLayout* grid = d->find<CContainer>("c")->gridLayout();
    ASSERT_NE(grid, nullptr);
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(d->find<CTestField>("a")), &row, &column, &rowSpan,
                          &columnSpan);
    EXPECT_EQ(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 2, 1, 2}));
    EXPECT_EQ(grid->rowStretch(1), 4);
    EXPECT_EQ(grid->columnStretch(2), 0);
    EXPECT_EQ(grid->rowMinimumHeight(1), 30);
    EXPECT_EQ(grid->columnMinimumWidth(2), 40);
    EXPECT_EQ(grid->itemAtPosition(1, 2)->alignment(), Qt::AlignTop);
    grid->getItemPosition(grid->indexOf(d->find<CTestField>("b")), &row, &column, &rowSpan,
                          &columnSpan);
    EXPECT_EQ(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 1}));
}

TEST_F(CoreLayout, GridRefusesCellsOutOfRange)
{
    for (const char* placement : {"row='2000000000'", "col='-1'", "rspan='0'", "cspan='99999'"})
    {
        auto d = inContainer("grid", QStringLiteral("<testfield %1/>").arg(placement));
        EXPECT_EQ(d->parseResult, 1) << placement;
        EXPECT_TRUE(d->error.endsWith("is out of range for layout")) << d->error.toStdString();
    }
}

TEST_F(CoreLayout, StackedLayoutAddsPagesInOrder)
{
    auto d = inContainer("stacked", "<testfield name='a' row='5'/><testfield name='b'/>");
    ASSERT_TRUE(d->ok());
    QStackedLayout* stack = d->find<CContainer>("c")->stackedLayout();
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->widget(0), d->find<CTestField>("a"));
    EXPECT_EQ(stack->widget(1), d->find<CTestField>("b"));
}

TEST_F(CoreLayout, UnknownLayoutsAndAlignmentsFail)
{
    auto d = inContainer("Vertical", "<testfield/>");
    EXPECT_EQ(d->parseResult, 1);
    EXPECT_EQ(d->error, "No layout specified.");

    d = inContainer("vertical", "<testfield name='a' align='Left'/><testfield name='b'/>");
    EXPECT_EQ(d->parseResult, 1);
    EXPECT_EQ(d->error, "Unknown alignment \"Left\" for layout");
    EXPECT_EQ(d->find("a"), nullptr);
}

TEST_F(CoreLayout, FactoryAddsCustomWidgetsAndReportsUnknownOnes)
{
    auto d = load(wrap("<customframe name='cf' layout='vertical'><testfield name='f'/>"
                       "</customframe><gauge name='g'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    EXPECT_NE(d->find<CContainer>("cf"), nullptr);
    EXPECT_EQ(d->find("f")->parentObject(), d->find("cf"));
    EXPECT_EQ(d->error, "Unknown widget: gauge");

    // Without a factory only the built-in kinds exist.
    m_pFactory.reset();
    EXPECT_EQ(CXmlContainer::m_pStaticWidgetFactory, nullptr);
    d = load(wrap("<testfield name='f'/>"));
    ASSERT_TRUE(d->ok());
    EXPECT_EQ(d->error, "Unknown widget: testfield");
}

TEST_F(CoreLayout, GalleryActionMarksTheWholeDefinitionObsolete)
{
    auto d = load(wrap("<container name='c'><galleryaction signal='s' slot='setvalue'"
                       " widget='c' value='1'/></container>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    ASSERT_NE(d->root->loadedXmlDeprecated(), nullptr);
    EXPECT_STREQ(d->root->loadedXmlDeprecated()->what(),
                 "An earlier version of Tessary is required to customize this installer. "
                 "Version 1.6 or earlier must be used.");
    EXPECT_EQ(d->find("c")->actionItems().size(), 1);

    // The record belongs to one load: parsing again starts clean.
    TiXmlElement clean("root");
    QString error;
    EXPECT_EQ(d->root->parse(&clean, error), 0);
    EXPECT_EQ(d->root->loadedXmlDeprecated(), nullptr);
}

TEST_F(CoreLayout, HooksUninstallThemselvesWhenDestroyed)
{
    {
        CTestValidator validator;
        CXmlContainer::m_pStaticValidator = &validator;
    }
    EXPECT_EQ(CXmlContainer::m_pStaticValidator, nullptr);
    CTestValidator other;
    CXmlContainer::m_pStaticValidator = &other;
    {
        CTestValidator unrelated;
    }
    EXPECT_EQ(CXmlContainer::m_pStaticValidator, &other);
}
