// The sample page definition loaded by the page framework, under the filters of each
// kind of installer, the way the main window loads it (without the page index, which
// belongs to the main window).
#include "SampleFiles.h"

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/PageHolder.h"
#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlValidator.h"
#include "tests/support/StandInRoot.h"
#include <QStringList>
#include <QWidget>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include <tinyxml.h>
#include <utils/Version.h>

namespace
{
// Stands in for the main window: root of the tree, page holder, element filter.
class CSampleRoot : public TestSupport::CStandInRoot, public CXmlValidator
{
public:
    CSampleRoot(const std::string& sPackageOs, const QStringList& options)
        : CStandInRoot(true), m_pHolder(holder()), m_sPackageOs(sPackageOs), m_lOptions(options)
    {
    }

    CXmlWidget* createWidget(const QString& name, QString& error) override
    {
        // The index is the main window's own; the framework leaves it alone.
        if (name == "index")
            return nullptr;
        return CStandInRoot::createWidget(name, error);
    }

    int initSignal(const QString& signal, const CActionItem*, TiXmlElement*, QString&) override
    {
        if (signal == "validate")
            ++m_iValidateActions;
        return 0;
    }

    int validateXml(TiXmlElement* element, QString&) override
    {
        const char* package = element->Attribute("package");
        if (!SampleFiles::packageAccepts(package ? package : "", m_sPackageOs))
            return 2;
        const QString sFlag = QString::fromUtf8(element->Attribute("showflag")).toLower();
        return sFlag.isEmpty() || m_lOptions.contains(sFlag) ? 0 : 2;
    }

    CPageHolder* m_pHolder;
    int m_iValidateActions = 0;

private:
    std::string m_sPackageOs;
    QStringList m_lOptions;
};

class SampleDefinitionLoad : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        CXmlObject::m_gCurrentXmlVersion = orbilib::utils::CVersion(L"1.8");
        CXmlContainer::m_pStaticValidator = nullptr;
        ASSERT_TRUE(m_doc.LoadFile(SampleFiles::definitionPath().c_str())) << m_doc.ErrorDesc();
    }

    void TearDown() override { CXmlContainer::m_pStaticValidator = nullptr; }

    // Parses and initialises the definition; the root when both succeed.
    std::unique_ptr<CSampleRoot> load(const std::string& sPackageOs, const QStringList& options)
    {
        auto root = std::make_unique<CSampleRoot>(sPackageOs, options);
        CXmlContainer::m_pStaticValidator = root.get();
        QString sError;
        EXPECT_EQ(root->parse(m_doc.RootElement(), sError), 0) << sError.toStdString();
        EXPECT_EQ(root->init(sError), 0) << sError.toStdString();
        CXmlContainer::m_pStaticValidator = nullptr;
        return root;
    }

    static QString value(const CXmlObject& root, const char* name)
    {
        const QList<CXmlObject*> found = root.findChildObjects(name);
        return found.size() == 1 ? found.first()->getValue()
                                 : "<" + QString::number(found.size()) + ">";
    }

    TiXmlDocument m_doc;
};

TEST_P(SampleDefinitionLoad, LoadsWithItsDefaultsForEachInstaller)
{
    const std::string sOs = GetParam();
    for (const QStringList& options : {QStringList(), QStringList{"diagnostics"}})
    {
        SCOPED_TRACE("package \"" + sOs + "\"" + (options.isEmpty() ? "" : " with -diagnostics"));
        const auto root = load(sOs, options);
        ASSERT_NE(root->m_pHolder, nullptr);
        EXPECT_EQ(root->m_iValidateActions, 2);
        EXPECT_EQ(root->m_pHolder->count(), 7 + (sOs == "linux") + options.size());

        EXPECT_EQ(value(*root, "ServerPort"), "8443");
        EXPECT_EQ(value(*root, "UseTls"), "yes");
        EXPECT_EQ(value(*root, "StartMode"), "boot");
        EXPECT_EQ(value(*root, "ScanSchedule"), "weekly");
        EXPECT_EQ(value(*root, "ScanAreas"), "3");
        EXPECT_EQ(value(*root, "ScanHour"), "2");
        EXPECT_EQ(value(*root, "UpdateChannel"), "stable");
        EXPECT_EQ(value(*root, "InstallDir"),
                  sOs == "linux" ? "/opt/ombrel/sentinel" : "/Applications");
        EXPECT_EQ(root->findChildObjects("OmitUninstaller").size(), sOs == "linux" ? 0 : 1);
        EXPECT_EQ(root->findChildObjects("StartMenuShortcut").size(), 0); // Windows only
        EXPECT_FALSE(value(*root, "PrivacyNotice").isEmpty());
        EXPECT_FALSE(root->isChanged()); // defaults raise no change
    }
}

// The definition's own actions keep related fields in step as the administrator works.
TEST_F(SampleDefinitionLoad, ActionsKeepRelatedFieldsInStep)
{
    const auto root = load("mac", {});
    auto object = [&](const char* name) { return root->findChildObjects(name).value(0); };
    auto widget = [&](const char* name)
    {
        CXmlWidget* w = dynamic_cast<CXmlWidget*>(object(name));
        return w ? w->widget() : nullptr;
    };
    ASSERT_TRUE(object("UseTls") && widget("CaCertificate") && widget("RelayAddress"));

    // Turning TLS off moves the port to the plain one and makes the CA file pointless.
    ASSERT_TRUE(object("UseTls")->performAction("unclick", nullptr));
    EXPECT_EQ(value(*root, "ServerPort"), "8080");
    EXPECT_FALSE(widget("CaCertificate")->isEnabled());
    ASSERT_TRUE(object("UseTls")->performAction("click", nullptr));
    EXPECT_EQ(value(*root, "ServerPort"), "8443");
    EXPECT_TRUE(widget("CaCertificate")->isEnabled());

    EXPECT_FALSE(widget("RelayAddress")->isEnabled());
    object("UseRelay")->performAction("click", nullptr);
    EXPECT_TRUE(widget("RelayAddress")->isEnabled());
    EXPECT_TRUE(widget("CheckRelay")->isEnabled());

    object("ServerAddress")->setValue("console.example.org");
    EXPECT_EQ(value(*root, "ReviewServer"), "console.example.org");
    object("UpdateFromServer")->performAction("click", nullptr);
    EXPECT_EQ(value(*root, "UpdateSource"), "console.example.org");
    EXPECT_FALSE(widget("UpdateSource")->isEnabled());

    EXPECT_FALSE(widget("TokenHint")->isHidden());
    object("EnrollmentToken")->setValue("ABCDEFGH12345678");
    EXPECT_TRUE(widget("TokenHint")->isHidden());

    EXPECT_TRUE(widget("ManualStartNote")->isHidden());
    object("StartMode")->setValue("manual");
    EXPECT_FALSE(widget("ManualStartNote")->isHidden());

    object("ScanSchedule")->setValue("never");
    EXPECT_FALSE(widget("ScanDay")->isEnabled());
    EXPECT_FALSE(widget("ScanHour")->isEnabled());
    object("ScanSchedule")->setValue("daily");
    EXPECT_FALSE(widget("ScanDay")->isEnabled());
    EXPECT_TRUE(widget("ScanHour")->isEnabled());

    EXPECT_FALSE(widget("ProxyDetails")->isEnabled());
    object("ProxyMode")->setValue("manual");
    EXPECT_TRUE(widget("ProxyDetails")->isEnabled());
    EXPECT_TRUE(root->isChanged());
}

INSTANTIATE_TEST_SUITE_P(Installers, SampleDefinitionLoad, ::testing::Values("mac", "linux", ""));

} // namespace
