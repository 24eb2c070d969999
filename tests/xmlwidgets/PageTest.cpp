#include "shared/XmlWidgets/Page.h"
#include "FrameworkTestSupport.h"
#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/Container.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>

using namespace FrameworkTest;

namespace
{
// The page holder is created by the root before parsing, as the main window does.
class CHolderRoot : public CTestRoot
{
public:
    CHolderRoot() : CTestRoot(true), m_pHolder(holder()) {}

    CPageHolder* m_pHolder;
};

class Pages : public FrameworkFixture
{
protected:
    int load(const char* holderBody)
    {
        m_document.Parse(QStringLiteral("<root version='1.8'><pageholder title='Pages' icon=''>"
                                        "%1</pageholder></root>")
                             .arg(QLatin1String(holderBody))
                             .toUtf8()
                             .constData());
        int result = m_root.parse(m_document.RootElement(), m_sError);
        if (result == 0)
            result = m_root.init(m_sError);
        return result;
    }
    CPage* page(int index) const { return m_root.m_pHolder->pageAt(index); }

    TiXmlDocument m_document;
    CHolderRoot m_root;
    QSignalSpy m_added{m_root.m_pHolder, &CPageHolder::pageAdded};
    QSignalSpy m_changed{m_root.m_pHolder, &CPageHolder::pageChanged};
    QSignalSpy m_modified{m_root.m_pHolder, &CPageHolder::pageModified};
    QString m_sError;
};
} // namespace

TEST_F(Pages, HolderBuildsPagesAndSkipsOtherElements)
{
    ASSERT_EQ(load("<page name='one' title='First' layout='vertical' style='color: red'>"
                   "<testfield name='f'/></page>"
                   "<action signal='s' slot='setvalue' widget='f' value='1'/>"
                   "<testfield name='stray'/>"
                   "<page name='two' visible='f'/>"),
              0)
        << m_sError.toStdString();
    CPageHolder* holder = m_root.m_pHolder;
    EXPECT_EQ(holder->count(), 2);
    EXPECT_EQ(holder->windowTitle(), "Pages");
    EXPECT_EQ(holder->actionItems().size(), 1);
    EXPECT_EQ(m_root.findChildObjects("stray").size(), 0);
    EXPECT_EQ(m_sError, "Page holder can only contain \"page\" elements, not testfield.");
    ASSERT_EQ(m_added.count(), 2);
    EXPECT_EQ(m_added.at(0).at(0).value<CPage*>(), page(0));
    EXPECT_EQ(holder->activePage(), page(0)); // the first page added is shown

    // Structure: content widget, heading, then the page container holding the widgets.
    CPage* first = page(0);
    EXPECT_EQ(first->objectName(), "one");
    EXPECT_EQ(first->windowTitle(), "First");
    QWidget* content = first->QScrollArea::widget();
    EXPECT_EQ(content->objectName(), "pagescrollarea");
    auto* layout = qobject_cast<QVBoxLayout*>(content->layout());
    ASSERT_EQ(layout->count(), 2);
    auto* heading = qobject_cast<QLabel*>(layout->itemAt(0)->widget());
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->objectName(), "h1");
    EXPECT_EQ(heading->text(), "First");
    EXPECT_EQ(layout->itemAt(1)->widget(), first->widget());
    EXPECT_EQ(layout->stretch(1), 1);
    EXPECT_EQ(first->widget(), first->pageContainer());
    EXPECT_EQ(first->widget()->objectName(), "pagescrollarea");
    EXPECT_EQ(first->widget()->styleSheet(), "color: red");
    ASSERT_NE(first->boxLayout(), nullptr); // the page's layout, on its page container
    EXPECT_EQ(first->boxLayout(), first->widget()->layout());
    EXPECT_EQ(m_root.findChildObjects("f").first()->parentObject(), first);

    // A page without title has no heading; its container is the only item.
    EXPECT_EQ(page(1)->QScrollArea::widget()->layout()->count(), 1);
    first->setWindowTitle("Renamed");
    EXPECT_EQ(layout->count(), 2);
    EXPECT_EQ(heading->text(), "Renamed");
}

TEST_F(Pages, SwitchingAnnouncesThePageTwice)
{
    ASSERT_EQ(load("<page name='one'/><page name='two'/>"), 0);
    m_changed.clear();
    EXPECT_TRUE(page(1)->performAction("setpage", nullptr));
    EXPECT_EQ(m_root.m_pHolder->activePage(), page(1));
    ASSERT_EQ(m_changed.count(), 2);
    EXPECT_EQ(m_changed.at(0).at(0).value<CPage*>(), page(1));
    EXPECT_EQ(m_changed.at(1).at(0).value<CPage*>(), page(1));

    // Already visible: nothing happens, the slot still succeeds.
    EXPECT_TRUE(page(1)->performAction("setpage", nullptr));
    EXPECT_EQ(m_changed.count(), 2);
    EXPECT_TRUE(page(0)->performAction("hide", nullptr));
    EXPECT_TRUE(page(0)->widget()->isHidden());
}

TEST_F(Pages, ChangesNameTheirPage)
{
    ASSERT_EQ(load("<page name='one' layout='vertical'/><page name='two' layout='grid'>"
                   "<container name='box' layout='vertical'><testfield name='f'/></container>"
                   "</page>"),
              0);
    m_root.findChildObjects("f").first()->setValue("v");
    ASSERT_EQ(m_modified.count(), 1);
    EXPECT_EQ(m_modified.at(0).at(0).value<CPage*>(), page(1));
    EXPECT_TRUE(m_root.isChanged());
}

TEST_F(Pages, FailureInsideAPageFailsTheHolder)
{
    EXPECT_EQ(load("<page name='one'><testfield name='f'/></page><page name='two'/>"), 1);
    EXPECT_EQ(m_sError, "No layout specified.");
    EXPECT_EQ(m_root.m_pHolder->count(), 0);
}
