#pragma once

// Fixtures shared by the action tests: a root that owns a window, a recording
// object that logs every slot performed on it, and helpers that load a page
// definition.

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/WidgetFactory.h"
#include "shared/XmlWidgets/XmlContainer.h"
#include "shared/XmlWidgets/XmlWidget.h"
#include "tests/support/ModalAnswerer.h"
#include "tests/support/StandInRoot.h"

#include <QApplication>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <tinyxml.h>

namespace ActionTest
{

// Every slot performed on a recorder, as "name:slot", in order.
inline QStringList& journal()
{
    static QStringList entries;
    return entries;
}

// The root of a test tree: the shared stand-in for the main window.
using CTestRoot = TestSupport::CStandInRoot;

// A value-holding object without an on-screen widget. performAction logs the slot
// and fails exactly for the slot "fail"; the signal "fire" triggers actions.
class CRecorder : public QObject, public CXmlWidget
{
    Q_OBJECT

public:
    // Owned by the container's window, as objects without a widget of their own are.
    explicit CRecorder(CXmlContainer* parent) : QObject(parent->widget()), CXmlWidget(parent) {}
    QWidget* widget() const override { return nullptr; }
    bool performAction(const QString& slot, const CActionItem*) override
    {
        journal().append(name() + ":" + slot);
        return slot != QLatin1String("fail");
    }
    void setValue(const QString& value) override
    {
        journal().append(name() + "=" + value);
        m_sValue = value;
    }
    QString getValue() const override { return m_sValue; }
    int initSignal(const QString& signal, const CActionItem* action, TiXmlElement*,
                   QString&) override
    {
        if (signal == QLatin1String("fire"))
            connect(this, &CRecorder::fire, action, &CActionItem::doAction);
        return 0;
    }

signals:
    void fire();

private:
    QString m_sValue;
};

// Adds the element "recorder" to the built-in kinds.
class CTestFactory : public CWidgetFactory
{
public:
    CXmlWidget* createCustomWidget(const QString& name, CXmlContainer* container,
                                   QString& error) override
    {
        if (name == QLatin1String("recorder"))
            return new CRecorder(container);
        return CWidgetFactory::createCustomWidget(name, container, error);
    }
};

// Parses and initialises a definition; result holds the parse result of the first
// failing phase (0 when both succeeded) and error its message.
inline std::unique_ptr<CTestRoot> load(const char* xml, int& result, QString& error)
{
    TiXmlDocument document;
    document.Parse(xml);
    auto root = std::make_unique<CTestRoot>();
    if (document.Error() || !document.RootElement())
    {
        result = 1;
        error = QString::fromUtf8(document.ErrorDesc());
        return root;
    }
    result = root->parse(document.RootElement(), error);
    if (result == 0)
        result = root->init(error);
    return root;
}

template <typename T> T* find(CXmlObject* root, const char* name)
{
    const QList<CXmlObject*> found = root->findChildObjects(QString::fromUtf8(name));
    return found.isEmpty() ? nullptr : dynamic_cast<T*>(found.first());
}

// Loads one action "act" of the recorder "btn" (fired by its "fire" signal, with
// the given attributes) whose success and failure branches log into the journal
// through the recorder named recorder.
inline std::unique_ptr<CTestRoot> loadBranchingAction(const QString& attributes,
                                                      const QString& recorder = "field")
{
    const QByteArray xml = QStringLiteral("<page><recorder name='%1'/><recorder name='btn'>"
                                          "<action name='act' signal='fire' %2>"
                                          "<action signal='success' widget='%1' slot='success'/>"
                                          "<action signal='failure' widget='%1' slot='failure'/>"
                                          "</action></recorder></page>")
                               .arg(recorder, attributes)
                               .toUtf8();
    QString error;
    int result = -1;
    std::unique_ptr<CTestRoot> root = load(xml.constData(), result, error);
    EXPECT_EQ(0, result) << error.toStdString();
    return root;
}

} // namespace ActionTest
