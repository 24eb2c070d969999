#pragma once

// Shared helpers for the page-framework tests: a root object standing in for the
// main window, a custom factory, a validator, and a loader that parses and
// initialises a definition given as text.

#include "shared/XmlWidgets/WidgetFactory.h"
#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlValidator.h"

#include "tests/support/StandInRoot.h"
#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

#include <gtest/gtest.h>
#include <memory>
#include <tinyxml.h>

namespace FrameworkTest
{

// The root of a test tree: the shared stand-in for the main window.
using CTestRoot = TestSupport::CStandInRoot;

// A minimal value widget ("testfield"): its value is a text; setValue raises
// changed() when the text changes. Lets framework tests run without the kinds.
class CTestField : public QWidget, public CXmlWidget
{
    Q_OBJECT

public:
    CTestField(CXmlObject* parentObject, QWidget* parentWidget);
    ~CTestField() override;

    QWidget* widget() const override;
    void setValue(const QString& value) override;
    QString getValue() const override;
    bool performAction(const QString& slot, const CActionItem* action) override;

    QString m_sValue;
    QStringList m_lSlots; // slots performed on this field, in order
};

// Knows "galleryaction" (marks the definition obsolete, as the application's
// factory does), "customaction" (a plain action) and the custom widget
// "customframe" (a container frame) and "testfield" (CTestField).
class CTestFactory : public CWidgetFactory
{
    Q_OBJECT

public:
    explicit CTestFactory(QObject* parent = nullptr);
    CXmlWidget* createCustomWidget(const QString& name, CXmlContainer* container,
                                   QString& error) override;
    CActionItem* createCustomAction(const QString& name, CXmlObject* owner,
                                    QString& error) override;
};

// A validator whose answer a test chooses; records the elements it was asked about.
class CTestValidator : public CXmlValidator
{
public:
    int validateXml(TiXmlElement* element, QString& error) override;

    std::function<int(TiXmlElement*, QString&)> m_fnVerdict;
    QStringList m_lAsked;
};

// A parsed (and, on success, initialised) definition.
struct Definition
{
    TiXmlDocument document;
    std::unique_ptr<CTestRoot> root;
    int readResult = -1;  // reading the text into the document
    int parseResult = -1; // root->parse
    int initResult = -1;  // root->init, only run when parsing succeeded
    QString error;

    // Read, parsed and initialised without error.
    bool ok() const { return readResult == 0 && parseResult == 0 && initResult == 0; }
    // The first object named name, as T (null when absent or of another kind).
    template <class T = CXmlObject> T* find(const QString& name) const
    {
        const QList<CXmlObject*> found = root ? root->findChildObjects(name) : QList<CXmlObject*>();
        return found.isEmpty() ? nullptr : dynamic_cast<T*>(found.first());
    }
};

// Reads xml, parses its root element into a new CTestRoot and, when that
// succeeds and initialise is set, initialises the tree.
std::unique_ptr<Definition> load(const QString& xml, bool initialise = true);

// Wraps body in a root element with a vertical layout:
// <root version="1.8" layout="vertical">body</root>.
QString wrap(const QString& body);

// Installs the tool version "1.8" and a CTestFactory for each test and removes
// them afterwards, so tests do not leak framework-wide settings.
class FrameworkFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<CTestFactory> m_pFactory;
};

} // namespace FrameworkTest
