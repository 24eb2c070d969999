#include "ActionTestSupport.h"

#include <gtest/gtest.h>

using namespace ActionTest;

namespace
{
class ActionParseTest : public ::testing::Test
{
protected:
    void SetUp() override { CXmlContainer::m_pStaticWidgetFactory = &m_factory; }

    // Loads one action element inside a recorder named "owner", next to a
    // recorder named "field".
    int loadAction(const QString& action, QString& error)
    {
        const QByteArray xml = ("<page><recorder name=\"owner\">" + action +
                                "</recorder><recorder name=\"field\"/></page>")
                                   .toUtf8();
        int result = -1;
        m_root = load(xml.constData(), result, error);
        return result;
    }

    CTestFactory m_factory;
    std::unique_ptr<CTestRoot> m_root;
};

struct BadAction
{
    const char* xml;
    const char* message;
};

TEST_F(ActionParseTest, RejectsIncompleteActionsWithTheirMessage)
{
    const BadAction cases[] = {
        {R"(<action slot="cmd" cmd="/bin/true"/>)", "Missing signal attribute in action"},
        {R"(<action signal="fire"/>)", "Missing slot attribute in action: fire"},
        {R"(<action signal="fire" slot="browsefile" widget="field"/>)",
         "Missing title attribute in action: fire"},
        {R"(<action signal="fire" slot="browsedir" title="Pick"/>)",
         "Missing widget attribute in action: fire"},
        {R"(<action name="run" signal="fire" slot="cmd" cmd="/bin/true" wait="yes"/>)",
         R"(Incorrect value for "wait" attribute in object "run": yes)"},
        {R"(<action name="run" signal="fire" slot="cmd" cmd="/bin/true" elevate="1"/>)",
         R"(Incorrect value for "elevate" attribute in object "run": 1)"},
        {R"(<action signal="fire" slot="cmd" arg="x"/>)",
         R"(Action missing cmd attribute: signal="fire")"},
        {R"(<action signal="fire" slot="open" url="" file="/etc/hosts"/>)",
         R"(Action missing url attribute: signal="fire")"},
        {R"(<action signal="fire" slot="open" file=""/>)",
         R"(Action missing file attribute: signal="fire")"},
        {R"(<action signal="fire" slot="open"/>)",
         "Missing file or url attribute for action: fire"},
        {R"(<action signal="fire" slot="question" msg="Sure?" severity="warning" defaultAnswer="Yes"/>)",
         R"(Invalid attribute defaultAnswer="Yes" in action: fire)"},
        {R"(<action signal="fire" slot="messagebox" msg="Hello"/>)",
         R"(Invalid attribute severity="" in action: fire)"},
        {R"(<action signal="fire" slot="messagebox" severity="loud" msg="Hello"/>)",
         R"(Invalid attribute severity="loud" in action: fire)"},
        {R"(<action signal="fire" slot="messagebox" severity="Error"/>)",
         "Missing msg attribute in action: fire"},
        {R"(<action signal="fire" slot="launch"/>)",
         R"(Unknown action slot:"launch" with signal:"fire")"},
        {R"(<action signal="fire" slot="enable" widget=""/>)",
         R"(Action missing widget attribute: signal="fire", slot="enable", widget="")"},
        {R"(<action signal="fire" slot="isempty"/>)",
         R"(Action missing widget attribute: signal="fire", slot="isempty", widget="")"},
        {R"(<action signal="fire" slot="equals" widget="field"/>)",
         R"(Action missing value attribute: signal="fire", slot="equals", widget="field")"},
        {R"(<action signal="fire" slot="enable" widget="nowhere"/>)",
         R"(Could not find widget "nowhere")"},
        {R"(<action signal="fire" slot="setvalue" widget="field" source="ghost"/>)",
         R"(Could not find widget "ghost")"},
        {R"(<action signal="fire" slot="enable" widget="field"><action signal="clicked" slot="hide" widget="field"/></action>)",
         "Invalid signal: clicked"},
    };
    for (const BadAction& bad : cases)
    {
        QString error;
        EXPECT_EQ(1, loadAction(QString::fromUtf8(bad.xml), error)) << bad.xml;
        EXPECT_EQ(QString::fromUtf8(bad.message), error) << bad.xml;
    }
}

TEST_F(ActionParseTest, AcceptsCompleteActionsInAnyLetterCaseWhereAllowed)
{
    const char* good[] = {
        R"(<Action signal="fire" slot="cmd" cmd="/bin/true" wait="TRUE" elevate="F"/>)",
        R"(<action signal="fire" slot="open" url="https://example.com/" file=""/>)",
        R"(<action signal="fire" slot="question" msg="Sure?" severity="WARNING" defaultAnswer="yes"/>)",
        R"(<action signal="fire" slot="equals" widget="field" value=""/>)",
        R"(<action signal="fire" slot="browsedir" widget="field" title="Pick" filter="*.txt"/>)",
        R"(<action signal="fire" slot="noSuchSlot" widget="field"/>)",
    };
    for (const char* xml : good)
    {
        QString error;
        EXPECT_EQ(0, loadAction(QString::fromUtf8(xml), error))
            << xml << " " << error.toStdString();
    }
}

TEST(ActionParse, WidgetActionNeedsAnOwnerButACommandDoesNot)
{
    TiXmlDocument document;
    document.Parse(R"(<r><action signal="fire" slot="hide" widget="w"/>)"
                   R"(<action signal="fire" slot="cmd" cmd="/bin/true"/></r>)");
    CActionItem orphan(nullptr);
    QString error;
    EXPECT_EQ(1, orphan.parse(document.RootElement()->FirstChildElement(), error));
    EXPECT_EQ(R"(Action must have a parent: signal="fire", slot="hide")", error);

    CActionItem command(nullptr);
    error.clear();
    EXPECT_EQ(
        0, command.parse(document.RootElement()->FirstChildElement()->NextSiblingElement(), error));
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(ActionParseTest, ResolvesEveryObjectSharingTheTargetName)
{
    QString error;
    int result = -1;
    m_root = load(R"(<page><recorder name="twin"/><recorder name="owner">)"
                  R"(<action name="a" signal="fire" slot="enable" widget="twin"/></recorder>)"
                  R"(<recorder name="twin"/></page>)",
                  result, error);
    ASSERT_EQ(0, result) << error.toStdString();
    auto* action = find<CActionItem>(m_root.get(), "a");
    ASSERT_NE(nullptr, action);
    EXPECT_EQ(2, action->targets().size());
    EXPECT_EQ(m_root->findChildObjects("twin"), action->targets());
}
} // namespace
