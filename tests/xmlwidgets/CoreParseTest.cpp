#include "FrameworkTestSupport.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Container.h"

#include <QWidget>

using namespace FrameworkTest;

namespace
{
class CoreParse : public FrameworkFixture
{
};
} // namespace

TEST_F(CoreParse, CommonAttributesReachTheWidget)
{
    auto d = load(wrap("<testfield name='f' property='P' default='d' style='color: red'"
                       " tooltip='Help' enabled='F' visible='TRUE' allowempty='T'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* field = d->find<CTestField>("f");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->objectName(), "f");
    EXPECT_EQ(static_cast<CXmlObject*>(field)->property(), "P");
    EXPECT_EQ(field->styleSheet(), "color: red");
    EXPECT_EQ(field->getTessaryDetails(), "Help");
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(field->isHidden());
    EXPECT_TRUE(field->allowEmpty());
    EXPECT_EQ(field->getValue(), "d");
}

TEST_F(CoreParse, InvalidBooleansNameObjectAndValue)
{
    const struct
    {
        const char* attribute;
        const char* expected;
    } cases[] = {
        {"enabled='yes'", "Incorrect value for \"enabled\" attribute in object \"f\": yes"},
        {"visible='2'", "Incorrect value for \"visible\" attribute in object \"f\": 2"},
        {"focus='on'", "Incorrect value for \"focus\" attribute in object \"f\": on"},
        {"allowempty='maybe'",
         "Incorrect value for \"allowempty\" attribute in object \"f\": maybe"},
    };
    for (const auto& c : cases)
    {
        auto d = load(wrap(QStringLiteral("<testfield name='f' %1/>").arg(c.attribute)));
        EXPECT_EQ(d->parseResult, 1) << c.attribute;
        EXPECT_EQ(d->error, c.expected);
    }
}

TEST_F(CoreParse, OsFilterSkipsElementsSilently)
{
    CTestRoot root;
    EXPECT_TRUE(root.isSupportedOS(""));
    EXPECT_TRUE(root.isSupportedOS("ANY"));
    EXPECT_TRUE(root.isSupportedOS("*"));
    EXPECT_TRUE(root.isSupportedOS("windows,mac"));
    EXPECT_TRUE(root.isSupportedOS("Windows ,MAC"));
    EXPECT_FALSE(root.isSupportedOS("windows, mac"));
    EXPECT_FALSE(root.isSupportedOS("linux"));

    auto d =
        load(wrap("<testfield name='a' os='windows, mac'/><testfield name='b' os='windows,mac'/>"
                  "<action name='c' os='linux' signal='x' slot='bogus'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    EXPECT_EQ(d->find("a"), nullptr);
    EXPECT_NE(d->find("b"), nullptr);
    EXPECT_TRUE(d->root->actionItems().isEmpty());
}

TEST_F(CoreParse, VersionLimitsDropChildrenAndStopTheRoot)
{
    auto d =
        load(wrap("<testfield name='new' versionmin='2.0'/><testfield name='ok' versionmin='1.8'"
                  " versionmax='1.8.1'/>"));
    ASSERT_TRUE(d->ok());
    EXPECT_EQ(d->find("new"), nullptr);
    EXPECT_NE(d->find("ok"), nullptr);
    EXPECT_TRUE(d->error.startsWith("Your version of Tessary is out of date. Please download"));

    d = load("<root version='1.8' versionmin='1.9'/>");
    EXPECT_EQ(d->parseResult, 2);
    EXPECT_TRUE(d->error.startsWith("Your version of Tessary is out of date."));

    d = load("<root version='1.8' versionmax='1.7.5'/>");
    EXPECT_EQ(d->parseResult, 2);
    EXPECT_TRUE(d->error.startsWith("Your version of Tessary is too new for this file. Please "
                                    "contact KORVA Support ("));
    EXPECT_TRUE(d->error.endsWith(")."));

    // Without a tool version the limits are not checked.
    CXmlObject::m_gCurrentXmlVersion = orbilib::utils::CVersion();
    d = load("<root version='1.8' versionmin='9'/>");
    EXPECT_TRUE(d->ok());
}

TEST_F(CoreParse, ActionNamesIgnoreCaseButWidgetNamesDoNot)
{
    auto d = load(wrap("<Action signal='validate' slot='setvalue' widget='f' value='1'/>"
                       "<CheckBox name='box'/><testfield name='f'/>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    EXPECT_EQ(d->root->actionItems().size(), 1);
    EXPECT_EQ(d->find("box"), nullptr);
    EXPECT_EQ(d->error, "Unknown widget: Action"); // the first unknown name is kept
    // Actions are children too, ahead of the widgets created after them.
    EXPECT_EQ(d->root->childObjects().first(), d->root->actionItems().first());
}

TEST_F(CoreParse, ContainerWithoutLayoutTakesOnlyObjectsWithoutWidgets)
{
    auto d = load(wrap("<container name='c'><action signal='s' slot='setvalue' widget='c'"
                       " value='1'/><customaction signal='s' slot='setvalue' widget='c'"
                       " value='2'/></container>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    EXPECT_EQ(d->find("c")->actionItems().size(), 2);

    d = load(wrap("<container name='c'><testfield name='f'/></container>"));
    EXPECT_EQ(d->parseResult, 1);
    EXPECT_EQ(d->error, "No layout specified.");
}

TEST_F(CoreParse, ValidatorDecidesBeforeCreation)
{
    CTestValidator validator;
    CXmlContainer::m_pStaticValidator = &validator;
    validator.m_fnVerdict = [](TiXmlElement* element, QString& error)
    {
        const QString flag = QString::fromUtf8(element->Attribute("showflag"));
        if (flag == "fail")
        {
            error = "refused";
            return 1;
        }
        return flag == "debug" ? 2 : 0;
    };
    auto d = load(wrap("<testfield name='a'/><testfield name='b' showflag='debug'/>"));
    ASSERT_TRUE(d->ok());
    EXPECT_EQ(validator.m_lAsked, QStringList({"testfield", "testfield"}));
    EXPECT_NE(d->find("a"), nullptr);
    EXPECT_EQ(d->find("b"), nullptr);

    d = load(wrap("<testfield name='a' showflag='fail'/><testfield name='b'/>"));
    EXPECT_EQ(d->parseResult, 1);
    EXPECT_EQ(d->error, "refused");
    EXPECT_EQ(d->find("b"), nullptr);
}

TEST_F(CoreParse, FailedChildStopsItsSiblings)
{
    auto d =
        load(wrap("<testfield name='a'/><testfield name='b' enabled='x'/><testfield name='c'/>"));
    EXPECT_EQ(d->parseResult, 1);
    EXPECT_NE(d->find("a"), nullptr);
    EXPECT_EQ(d->find("b"), nullptr); // deleted again
    EXPECT_EQ(d->find("c"), nullptr); // never reached
    EXPECT_EQ(d->root->childObjects().size(), 1);
}

TEST_F(CoreParse, DestructionDetachesChildrenAndDeletesActions)
{
    auto d = load(wrap("<container name='c' layout='vertical'><testfield name='f'/>"
                       "<action signal='s' slot='setvalue' widget='f' value='1'/></container>"));
    ASSERT_TRUE(d->ok()) << d->error.toStdString();
    auto* container = d->find<CContainer>("c");
    auto* field = d->find<CTestField>("f");
    field->setParent(nullptr); // keep the field alive past its container
    delete container;
    EXPECT_EQ(field->parentObject(), nullptr);
    EXPECT_EQ(d->find("c"), nullptr);
    EXPECT_TRUE(d->root->childObjects().isEmpty());
    delete field;
}
