// The sample page definition loaded by the page framework, under the filters of each
// kind of installer, the way the main window loads it (without the page index, which
// belongs to the main window).
#include "SampleFiles.h"

#include <ActionItem.h>
#include <PageHolder.h>
#include <QStringList>
#include <QWidget>
#include <XmlContainer.h>
#include <XmlValidator.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <tinyxml.h>
#include <utils/Version.h>

namespace
{
// Stands in for the main window: root of the tree, page holder, element filter.
class CSampleRoot : public QWidget, public CXmlContainer, public CXmlValidator
{
public:
    CSampleRoot(const std::string& sPackageOs, const QStringList& options)
        : CXmlContainer(nullptr), m_sPackageOs(sPackageOs), m_lOptions(options)
    {
    }

    QWidget* widget() const override { return const_cast<CSampleRoot*>(this); }

    CXmlWidget* createWidget(const QString& name, QString& error) override
    {
        if (name == "pageholder")
            return m_pHolder = new CPageHolder(this, this);
        if (name == "index")
            return nullptr;
        return CXmlContainer::createWidget(name, error);
    }

    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override
    {
        return name == "pageholder" ? 0 : CXmlContainer::addWidget(name, object, element, error);
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

    CPageHolder* m_pHolder = nullptr;
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

INSTANTIATE_TEST_SUITE_P(Installers, SampleDefinitionLoad, ::testing::Values("mac", "linux", ""));

} // namespace
