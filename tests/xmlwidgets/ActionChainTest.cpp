#include "ActionTestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace ActionTest;

namespace
{
class ActionChainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CXmlContainer::m_pStaticWidgetFactory = &m_factory;
        journal().clear();
    }

    CTestRoot* loadTree(const char* xml)
    {
        QString error;
        int result = -1;
        m_root = load(xml, result, error);
        EXPECT_EQ(0, result) << error.toStdString();
        m_root->widget()->show();
        return m_root.get();
    }

    void fire(const char* name) { emit find<CRecorder>(m_root.get(), name)->fire(); }

    CTestFactory m_factory;
    std::unique_ptr<CTestRoot> m_root;
    // Answers only what a test asks it to, and drops what it was not shown.
    TestSupport::CModalAnswerer m_modal{TestSupport::CModalAnswerer::HandlersOnly};
};

// A main step on "rec" with one nested action in each phase; mainSlot "fail" fails it.
QByteArray chain(const char* mainSlot)
{
    return QByteArray(R"(<page><recorder name="rec"/><recorder name="btn">)"
                      R"(<action name="main" signal="fire" widget="rec" slot=")") +
           mainSlot +
           R"(">
             <action signal="post" widget="rec" slot="post"/>
             <action signal="failure" widget="rec" slot="failure"/>
             <action signal="success" widget="rec" slot="success"/>
             <action signal="pre" widget="rec" slot="pre"/>
           </action></recorder></page>)";
}

TEST_F(ActionChainTest, SuccessRunsPreMainSuccessPostThenReportsDone)
{
    loadTree(chain("run").constData());
    QSignalSpy done(find<CActionItem>(m_root.get(), "main"), &CActionItem::actionDone);
    fire("btn");
    EXPECT_EQ(QStringList({"rec:pre", "rec:run", "rec:success", "rec:post"}), journal());
    ASSERT_EQ(1, done.count());
    EXPECT_TRUE(done.first().first().toBool());
}

TEST_F(ActionChainTest, FailureTakesTheFailureBranchAndReportsIt)
{
    loadTree(chain("fail").constData());
    QSignalSpy done(find<CActionItem>(m_root.get(), "main"), &CActionItem::actionDone);
    fire("btn");
    EXPECT_EQ(QStringList({"rec:pre", "rec:fail", "rec:failure", "rec:post"}), journal());
    ASSERT_EQ(1, done.count());
    EXPECT_FALSE(done.first().first().toBool());
}

TEST_F(ActionChainTest, SeveralNestedActionsRunTheNextPhaseOnceAndNestDeeply)
{
    loadTree(R"(<page><recorder name="rec"/><recorder name="btn">
        <action name="main" signal="fire" widget="rec" slot="run">
          <action signal="pre" widget="rec" slot="pre1"/>
          <action signal="pre" widget="rec" slot="pre2">
            <action signal="success" widget="rec" slot="inner"/>
          </action>
          <action signal="success" widget="rec" slot="ok1"/>
          <action signal="success" widget="rec" slot="fail"/>
          <action signal="post" widget="rec" slot="post1"/>
          <action signal="post" widget="rec" slot="post2"/>
        </action></recorder></page>)");
    QSignalSpy done(find<CActionItem>(m_root.get(), "main"), &CActionItem::actionDone);
    fire("btn");
    // A failing nested action does not change its owner's outcome.
    EXPECT_EQ(QStringList({"rec:pre1", "rec:pre2", "rec:inner", "rec:run", "rec:ok1", "rec:fail",
                           "rec:post1", "rec:post2"}),
              journal());
    ASSERT_EQ(1, done.count());
    EXPECT_TRUE(done.first().first().toBool());
}

TEST_F(ActionChainTest, SetValueTakesValueThenSourceThenTheOwnersValue)
{
    loadTree(R"(<page layout="vertical">
        <recorder name="src" default="from source"/>
        <lineedit name="both"/><lineedit name="copy"/><lineedit name="own"/>
        <checkbox name="box" title="Copy" checkvalue="on" uncheckvalue="off">
          <action signal="checked" slot="setvalue" widget="both" source="src" value="literal"/>
          <action signal="checked" slot="setvalue" widget="copy" source="src"/>
          <action signal="checked" slot="setvalue" widget="own"/>
        </checkbox></page>)");
    auto* box = find<QCheckBox>(m_root.get(), "box");
    // On the indicator: the box is as wide as the page, its caption short.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    EXPECT_EQ("literal", find<CXmlObject>(m_root.get(), "both")->getValue());
    EXPECT_EQ("from source", find<CXmlObject>(m_root.get(), "copy")->getValue());
    EXPECT_EQ("on", find<CXmlObject>(m_root.get(), "own")->getValue());
}

TEST_F(ActionChainTest, TypedTextDrivesComparisonsIntoTheirBranches)
{
    loadTree(R"(<page layout="vertical"><recorder name="rec"/>
        <lineedit name="user">
          <action signal="textedited" slot="equals" widget="user" value="admin">
            <action signal="success" widget="rec" slot="match"/>
          </action>
          <action signal="textchanged" slot="isempty" widget="user">
            <action signal="success" widget="rec" slot="empty"/>
            <action signal="failure" widget="rec" slot="filled"/>
          </action>
        </lineedit></page>)");
    auto* field = find<QLineEdit>(m_root.get(), "user");
    QTest::keyClicks(field, "admin");
    // Every keystroke changes the text; only the complete word matches.
    EXPECT_EQ(5, journal().count("rec:filled"));
    EXPECT_EQ(1, journal().count("rec:match"));
    journal().clear();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(QStringList({"rec:empty"}), journal());
}

TEST_F(ActionChainTest, ClicksCallTargetSlotsThatFailOnlyWithoutAWidget)
{
    loadTree(R"(<page layout="vertical"><recorder name="rec"/><lineedit name="field"/>
        <buttongroup name="group"><radiobutton name="r1" value="1"/></buttongroup>
        <pushbutton name="go" title="Go">
          <action signal="clicked" slot="disable" widget="field"/>
          <action signal="clicked" slot="noSuchSlot" widget="field">
            <action signal="success" widget="rec" slot="known"/>
          </action>
          <action signal="clicked" slot="noSuchSlot" widget="group">
            <action signal="failure" widget="rec" slot="nowidget"/>
          </action>
        </pushbutton></page>)");
    QTest::mouseClick(find<QPushButton>(m_root.get(), "go"), Qt::LeftButton);
    EXPECT_FALSE(find<QLineEdit>(m_root.get(), "field")->isEnabled());
    EXPECT_EQ(QStringList({"rec:known", "rec:nowidget"}), journal());
}

TEST_F(ActionChainTest, ActionsThatTriggerEachOtherStopInsteadOfRecursing)
{
    loadTree(R"(<page layout="vertical"><recorder name="rec"/>
        <checkbox name="a" title="A">
          <action name="off" signal="checked" slot="unclick" widget="a">
            <action signal="post" widget="rec" slot="off"/>
          </action>
          <action name="on" signal="unchecked" slot="click" widget="a">
            <action signal="post" widget="rec" slot="on"/>
          </action>
        </checkbox></page>)");
    QSignalSpy offDone(find<CActionItem>(m_root.get(), "off"), &CActionItem::actionDone);
    QTest::mouseClick(find<QCheckBox>(m_root.get(), "a"), Qt::LeftButton);
    EXPECT_EQ(QStringList({"rec:on", "rec:off"}), journal());
    ASSERT_EQ(1, offDone.count());

    // Both actions are free again afterwards: the next click (now unchecking) runs
    // the mirrored chain once.
    journal().clear();
    QTest::mouseClick(find<QCheckBox>(m_root.get(), "a"), Qt::LeftButton);
    EXPECT_EQ(QStringList({"rec:off", "rec:on"}), journal());
}

TEST_F(ActionChainTest, EntrySelectedWhileLoadingRunsWithoutTargetsThenDrivesActions)
{
    bool boxShown = false;
    m_modal.answerNext(
        [&](QWidget* modal)
        {
            boxShown = true;
            modal->close();
        });
    loadTree(R"(<page layout="vertical"><recorder name="rec"/><combobox name="combo">
        <entry title="A" value="a">
          <action signal="selected" slot="messagebox" severity="error" msg="Too early"/>
        </entry>
        <entry title="B" value="b"><action signal="selected" slot="setvalue" widget="rec"/></entry>
        </combobox></page>)");
    QCoreApplication::processEvents();
    EXPECT_FALSE(boxShown);
    EXPECT_TRUE(journal().isEmpty());

    QTest::keyClick(find<QWidget>(m_root.get(), "combo"), Qt::Key_Down);
    EXPECT_EQ(QStringList({"rec=b"}), journal());
}
} // namespace
