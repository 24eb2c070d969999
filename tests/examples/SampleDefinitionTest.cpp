// The sample page definition: well-formed, complete (every widget kind, every
// action slot), and loadable under every filter combination an administrator can meet.
#include "SampleFiles.h"

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <tinyxml.h>
#include <vector>

namespace
{
using Names = std::set<std::string>;

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string attribute(const TiXmlElement* e, const char* name)
{
    const char* value = e->Attribute(name);
    return value ? value : "";
}

bool isAction(const TiXmlElement* e)
{
    const std::string name = lower(e->Value());
    return name == "action" || name == "validateurl";
}

class SampleDefinition : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_doc.LoadFile(SampleFiles::definitionPath().c_str()))
            << m_doc.ErrorDesc() << " at line " << m_doc.ErrorRow();
        m_pRoot = m_doc.RootElement();
        ASSERT_NE(m_pRoot, nullptr);
    }

    template <typename F> void forEach(const TiXmlElement* e, F&& f) const
    {
        f(e);
        for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
            forEach(c, f);
    }

    std::vector<const TiXmlElement*> all(const std::string& sName) const
    {
        std::vector<const TiXmlElement*> found;
        forEach(m_pRoot,
                [&](const TiXmlElement* e)
                {
                    if (sName.empty() || sName == e->Value())
                        found.push_back(e);
                });
        return found;
    }

    // What the program keeps of the definition for a package of this system with these
    // command-line flags: the "os", "package" and "showflag" rules.
    bool kept(const TiXmlElement* e, const std::string& sPackageOs, const Names& flags) const
    {
        if (!SampleFiles::supportedOs(attribute(e, "os")))
            return false;
        if (isAction(e))
            return true; // actions pass the "os" test only
        if (!SampleFiles::packageAccepts(attribute(e, "package"), sPackageOs))
            return false;
        const std::string sFlag = lower(attribute(e, "showflag"));
        return sFlag.empty() || flags.count(sFlag) > 0;
    }

    template <typename F>
    void forEachKept(const TiXmlElement* e, const std::string& sOs, const Names& flags, F&& f) const
    {
        f(e);
        for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
            if (kept(c, sOs, flags))
                forEachKept(c, sOs, flags, f);
    }

    TiXmlDocument m_doc;
    const TiXmlElement* m_pRoot = nullptr;
};

TEST_F(SampleDefinition, RootCarriesVersionTitleAndIndex)
{
    EXPECT_EQ(attribute(m_pRoot, "version"), "1.8");
    EXPECT_FALSE(attribute(m_pRoot, "title").empty());
    EXPECT_FALSE(attribute(m_pRoot, "name").empty());
    EXPECT_EQ(all("index").size(), 1u);
    EXPECT_EQ(all("pageholder").size(), 1u);
    EXPECT_GE(all("indexgroup").size(), 2u);
    EXPECT_GE(all("page").size(), 5u);
}

TEST_F(SampleDefinition, UsesEveryWidgetKindAndAttributeFamily)
{
    for (const char* kind : {"checkbox", "radiobutton", "buttongroup", "bitmask", "lineedit",
                             "numberedit", "textedit", "spinbox", "combobox", "entry", "label",
                             "pushbutton", "link", "container", "hline", "vline"})
        EXPECT_FALSE(all(kind).empty()) << "no " << kind;

    Names attributes, layouts, aligns, properties;
    forEach(m_pRoot,
            [&](const TiXmlElement* e)
            {
                for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
                    attributes.insert(a->Name());
                if (e->Attribute("layout"))
                    layouts.insert(attribute(e, "layout"));
                if (e->Attribute("align"))
                    aligns.insert(attribute(e, "align"));
                if (e->Attribute("property"))
                    properties.insert(attribute(e, "property"));
            });
    for (const char* name :
         {"stretch",  "row",         "col",        "rspan",        "cspan",    "minheight",
          "minwidth", "rstretch",    "cstretch",   "align",        "default",  "allowempty",
          "tooltip",  "style",       "focus",      "enabled",      "visible",  "os",
          "package",  "showflag",    "versionmin", "mask",         "readonly", "buddy",
          "wrap",     "interaction", "checkvalue", "uncheckvalue", "icon",     "upicon",
          "downicon", "hovericon",   "prefix",     "suffix",       "step"})
        EXPECT_TRUE(attributes.count(name)) << "no \"" << name << "\" attribute";
    for (const std::string& layout : layouts)
        EXPECT_TRUE((Names{"horizontal", "vertical", "grid", "stacked"}.count(layout))) << layout;
    for (const std::string& align : aligns)
        EXPECT_TRUE(
            (Names{"left", "right", "center", "hcenter", "vcenter", "justify", "top", "bottom"}
                 .count(align)))
            << align;

    bool bPkg = false, bAi = false;
    for (const std::string& property : properties)
    {
        bPkg = bPkg || property.rfind("$PKG_", 0) == 0;
        bAi = bAi || property.rfind("$AI_", 0) == 0;
        if (property[0] == '$')
            continue;
        // The script installer exports every other property as a shell variable.
        const bool bIdentifier =
            !std::isdigit(static_cast<unsigned char>(property[0])) &&
            std::all_of(property.begin(), property.end(),
                        [](unsigned char c) { return std::isalnum(c) || c == '_'; });
        EXPECT_TRUE(bIdentifier) << property << " is not a shell variable name";
    }
    EXPECT_TRUE(bPkg);
    EXPECT_TRUE(bAi);
}

TEST_F(SampleDefinition, UsesEveryActionSlotAndSignalWhereItCanFire)
{
    static const std::map<std::string, Names> signalsOf = {
        {"checkbox", {"checked", "unchecked"}},
        {"radiobutton", {"checked", "unchecked"}},
        {"pushbutton", {"clicked"}},
        {"link", {"clicked"}},
        {"label", {"clicked", "doubleclicked"}},
        {"lineedit", {"textedited", "textchanged"}},
        {"numberedit", {"textedited", "textchanged"}},
        {"entry", {"selected"}},
        {"action", {"pre", "post", "success", "failure"}}};
    Names usedSlots, usedSignals;
    forEach(m_pRoot,
            [&](const TiXmlElement* e)
            {
                if (!isAction(e))
                    return;
                const std::string sSignal = attribute(e, "signal"), sSlot = attribute(e, "slot");
                usedSlots.insert(sSlot);
                usedSignals.insert(sSignal);
                const TiXmlElement* owner = e->Parent()->ToElement();
                const auto known = signalsOf.find(owner->Value());
                if (owner == m_pRoot)
                {
                    EXPECT_EQ(sSignal, "validate")
                        << "an action of the root fires only on \"validate\"";
                }
                else if (known == signalsOf.end() || !known->second.count(sSignal))
                {
                    ADD_FAILURE() << "\"" << sSignal << "\" never fires on " << owner->Value()
                                  << " (line " << e->Row() << ")";
                }

                if (sSlot == "cmd")
                {
                    EXPECT_FALSE(attribute(e, "cmd").empty());
                }
                if (sSlot == "open")
                {
                    EXPECT_FALSE(attribute(e, "url").empty() && attribute(e, "file").empty());
                }
                if (sSlot == "messagebox" || sSlot == "question")
                {
                    EXPECT_FALSE(attribute(e, "msg").empty());
                    EXPECT_TRUE((Names{"information", "warning", "error"}.count(
                        lower(attribute(e, "severity")))));
                    EXPECT_TRUE((Names{"", "yes", "no"}.count(attribute(e, "defaultAnswer"))));
                }
                if (sSlot == "browsefile" || sSlot == "browsedir" || sSlot == "isempty" ||
                    sSlot == "equals")
                {
                    EXPECT_FALSE(attribute(e, "widget").empty()) << sSlot;
                }
                if (sSlot == "equals")
                {
                    EXPECT_NE(e->Attribute("value"), nullptr);
                }
            });
    for (const char* slot :
         {"setvalue",    "isempty",    "equals",    "cmd",     "open",          "messagebox",
          "question",    "browsefile", "browsedir", "enable",  "disable",       "show",
          "hide",        "focus",      "check",     "uncheck", "click",         "unclick",
          "doubleclick", "clear",      "setpage",   "quit",    "cancelpublish", "validate"})
        EXPECT_TRUE(usedSlots.count(slot)) << "no action with slot \"" << slot << "\"";
    for (const char* signal :
         {"checked", "unchecked", "clicked", "doubleclicked", "textedited", "textchanged",
          "selected", "validate", "pre", "post", "success", "failure"})
        EXPECT_TRUE(usedSignals.count(signal)) << "no action on signal \"" << signal << "\"";

    bool bOpensUrl = false, bOpensFile = false;
    for (const TiXmlElement* action : all("action"))
    {
        bOpensUrl = bOpensUrl || (attribute(action, "slot") == "open" && action->Attribute("url"));
        bOpensFile =
            bOpensFile || (attribute(action, "slot") == "open" && action->Attribute("file"));
    }
    EXPECT_TRUE(bOpensUrl && bOpensFile);
}

TEST_F(SampleDefinition, WebChecksStayOnLoopback)
{
    const auto checks = all("validateurl");
    ASSERT_FALSE(checks.empty());
    int urls = 0;
    for (const TiXmlElement* check : checks)
        for (const TiXmlElement* url = check->FirstChildElement("url"); url;
             url = url->NextSiblingElement("url"))
        {
            ++urls;
            const std::string u = attribute(url, "u");
            const std::size_t start = u.find("://");
            ASSERT_NE(start, std::string::npos) << u;
            std::string host = u.substr(start + 3, u.find('/', start + 3) - start - 3);
            host = host[0] == '[' ? host.substr(0, host.find(']') + 1)
                                  : host.substr(0, host.find(':'));
            EXPECT_TRUE(host == "localhost" || host == "[::1]" || host.rfind("127.", 0) == 0) << u;
        }
    EXPECT_GE(urls, 2);
}

TEST_F(SampleDefinition, EmbeddedDataDecodes)
{
    for (const TiXmlElement* label : all("label"))
        if (label->GetText())
        {
            QImage image;
            EXPECT_TRUE(image.loadFromData(QByteArray::fromBase64(label->GetText()), "PNG"))
                << "label " << attribute(label, "name");
        }
    for (const TiXmlElement* edit : all("textedit"))
        if (edit->GetText())
        {
            EXPECT_FALSE(QByteArray::fromBase64(edit->GetText()).isEmpty());
        }
}

// Every name an action, index row or label refers to must exist in whatever part of the
// definition a given installer and flag set keeps; otherwise the whole document fails to load.
TEST_F(SampleDefinition, ReferencesResolveForEveryPackageAndFlag)
{
    for (const std::string sOs : {"mac", "linux", ""})
        for (const Names& flags : {Names{}, Names{"diagnostics"}})
        {
            SCOPED_TRACE("package \"" + sOs + "\"" + (flags.empty() ? "" : " with -diagnostics"));
            Names names{attribute(m_pRoot, "name")}, pages;
            std::vector<const TiXmlElement*> kept;
            forEachKept(m_pRoot, sOs, flags,
                        [&](const TiXmlElement* e)
                        {
                            kept.push_back(e);
                            names.insert(attribute(e, "name"));
                            if (std::string(e->Value()) == "page")
                                pages.insert(attribute(e, "name"));
                        });
            for (const TiXmlElement* e : kept)
            {
                const std::string kind = e->Value();
                if (kind == "action")
                    for (const char* ref : {"widget", "source"})
                        if (!attribute(e, ref).empty())
                        {
                            EXPECT_TRUE(names.count(attribute(e, ref)))
                                << "action on line " << e->Row() << " names the missing "
                                << attribute(e, ref);
                        }
                if ((kind == "indexlink" || kind == "indexgroup") && !attribute(e, "page").empty())
                {
                    EXPECT_TRUE(pages.count(attribute(e, "page")))
                        << "index row to " << attribute(e, "page");
                }
                if (kind == "label" && !attribute(e, "buddy").empty())
                {
                    EXPECT_TRUE(names.count(attribute(e, "buddy")))
                        << "buddy " << attribute(e, "buddy");
                }
            }
            EXPECT_TRUE(pages.count("ServerPage"));
            EXPECT_EQ(pages.count("LinuxPage"), sOs == "linux" ? 1u : 0u);
            EXPECT_EQ(pages.count("DiagnosticsPage"), flags.size());
        }
}

TEST_F(SampleDefinition, ContainersHoldOnlyWhatTheyAccept)
{
    static const std::map<std::string, Names> accepted = {
        {"pageholder", {"page"}},
        {"index", {"indexlink", "indexgroup"}},
        {"indexgroup", {"indexlink", "indexgroup"}},
        {"buttongroup", {"radiobutton"}},
        {"bitmask", {"checkbox"}},
        {"combobox", {"entry"}}};
    static const Names widgets = {"checkbox",  "radiobutton", "buttongroup", "bitmask",
                                  "lineedit",  "numberedit",  "textedit",    "spinbox",
                                  "combobox",  "label",       "pushbutton",  "link",
                                  "container", "hline",       "vline"};
    forEach(m_pRoot,
            [&](const TiXmlElement* e)
            {
                const std::string kind = e->Value();
                for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
                {
                    const std::string child = c->Value();
                    if (isAction(c) || (kind == "validateurl" && child == "url"))
                        continue;
                    const auto rule = accepted.find(kind);
                    const bool bOk = rule != accepted.end() ? rule->second.count(child) > 0
                                     : e == m_pRoot ? child == "index" || child == "pageholder"
                                     : kind == "page" || kind == "container"
                                         ? widgets.count(child) > 0
                                         : false;
                    EXPECT_TRUE(bOk)
                        << kind << " cannot hold " << child << " (line " << c->Row() << ")";
                }
                if (kind == "spinbox")
                {
                    EXPECT_TRUE(e->Attribute("minimum") && e->Attribute("maximum"));
                }
                if (kind == "entry")
                {
                    EXPECT_FALSE(attribute(e, "title").empty() || attribute(e, "value").empty());
                }
            });
}

} // namespace
