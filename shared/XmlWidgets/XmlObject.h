#pragma once

#include "CustomWidgetObsoleteException.h"
#include "ValueRule.h"
#include "utils/Version.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

class TiXmlElement;
class QPixmap;
class CActionItem;

// Base of every object built from an element of a page definition.
//
// Every parse-like step returns a parse result: 0 success, 1 error (message in
// the caller's error string, the parent stops), 2 skip the element and go on.
// The framework never throws.
class CXmlObject
{
public:
    enum ParseResult
    {
        ParseSuccess = 0,
        ParseError = 1,
        ParseSkip = 2
    };

    // Registers the new object in parent's children list (parent may be null for a root).
    explicit CXmlObject(CXmlObject* parent);
    // Leaves its parent's children list, detaches its own children (they are
    // owned elsewhere) and deletes its actions.
    virtual ~CXmlObject();

    CXmlObject(const CXmlObject&) = delete;
    CXmlObject& operator=(const CXmlObject&) = delete;

    // Common attributes, version limits and the element's "action" children.
    virtual int parse(TiXmlElement* element, QString& error);
    // Carries out a named action slot; false when not handled.
    virtual bool performAction(const QString& slot, const CActionItem* action);
    virtual void setValue(const QString& value);
    virtual QString getValue() const;
    virtual void setDefaultValue(const QString& value);
    virtual QString getDefaultValue() const;
    virtual bool isEmpty() const;

    // What a field makes of a value offered to it as if the administrator had typed
    // or chosen it.
    enum ValueFit
    {
        ValueTaken,    // the field holds the value as given
        ValueAdjusted, // the field changed it as it changes typed input (letter case, a
                       // number brought within its range); the changed value stands
        ValueRefused   // the field would not take it; it keeps what it held
    };
    // Sets value by the field's own rules; why it was adjusted or refused goes to
    // reason. Objects without rules of their own take what setValue keeps.
    virtual ValueFit offerValue(const QString& value, QString* reason = nullptr);
    // What the field takes, for people and for reports; empty when anything goes.
    virtual CValueRule valueRule() const;
    // Connects this object's named signal to action->doAction(); unknown names connect nothing.
    virtual int initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                           QString& error);
    // First phase of initialisation: children in order, stop at the first 1.
    virtual int initActions(QString& error);
    // Second phase: apply the default, mark initialised, then the children.
    virtual void initValues();
    // initActions, then initValues when that succeeded; returns the initActions result.
    virtual int init(QString& error);
    virtual void resetChanged(bool recursive);
    // Raises a change notification once the object is initialised.
    virtual void changed();
    // Marks this object changed and passes the notification to the parent.
    virtual void changeNotification(CXmlObject* child, CXmlObject* source);
    // Shows (or clears, with an empty text) mouse-over help; the main window overrides it.
    virtual void onMouseOverWidgetImpl(const QString& text);
    // Forgets what a page definition gave this object: its common attributes, its
    // actions and its state. For objects that outlive a document (the main window
    // and its pre-built page holder and index), so that none leaks into the next.
    virtual void discardDefinition();
    // Leaves the parent's children list: the object becomes the root of its own
    // subtree (for a page kept alive a little after its document was replaced).
    void detachFromParent();

    const QString& name() const { return m_sName; }
    // The element name this object was made from ("lineedit", "spinbox", ...).
    const QString& kind() const { return m_sKind; }
    void setKind(const QString& kind) { m_sKind = kind; }
    const QString& property() const { return m_sProperty; }
    const QString& language() const { return m_sLanguage; }
    CXmlObject* parentObject() const { return m_pParent; }
    const QList<CXmlObject*>& childObjects() const { return m_lChildren; }
    // Named apart from QWidget::actions(), which every widget kind also inherits.
    const QList<CActionItem*>& actionItems() const { return m_lActions; }
    bool isChanged() const { return m_bChanged; }
    bool isInitialized() const { return m_bInitialized; }
    bool hasDefault() const { return m_bHasDefault; }
    bool allowEmpty() const { return m_bAllowEmpty; }
    // The element was marked "secret": its value is kept out of logs, reviews and,
    // unless asked for, customization files.
    bool isSecret() const { return m_bSecret; }

    // Every object of the subtree named exactly name, depth-first, each child
    // before its descendants; the object itself only when it is a root.
    QList<CXmlObject*> findChildObjects(const QString& name) const;
    // The same objects, from an index of the subtree's names that is built once and
    // kept while the tree does not change: resolving the names of every action of a
    // definition costs one walk, not one walk per action.
    QList<CXmlObject*> findNamedObjects(const QString& name) const;
    // The installation properties of the subtree (objects with a property and a
    // name), this object first, each object before its children; without
    // recursion, as trees come from untrusted definitions.
    QList<CXmlObject*> installationProperties() const;
    // Follows parent pointers to the top.
    CXmlObject* rootObject() const;

    // Attribute text (UTF-8) with "%OS%" and "%LANGUAGE%" substituted; null gives "".
    QString convertAttribute(const char* value) const;
    // As convertAttribute, falling back to the "en_US" file when only that one exists.
    QString convertFileAttribute(const char* value) const;
    // Caption text through the application's translator (generic object context).
    QString translate(const char* text) const;
    // The element's text decoded from Base64; empty without text.
    QByteArray elementData(TiXmlElement* element) const;
    // 2 without element text, 0 when the decoded data loads as PNG, else 1.
    int readPixmap(TiXmlElement* element, QPixmap& pixmap) const;
    // Whether an "os" list (already converted) includes this platform.
    bool isSupportedOS(const QString& list) const;

    // Deprecation record of the loaded definition; meaningful on the root only.
    void setLoadedXmlDeprecated(const std::shared_ptr<CustomWidgetObsoleteException>& pException);
    const std::shared_ptr<CustomWidgetObsoleteException>& loadedXmlDeprecated() const
    {
        return m_pLoadedXmlDeprecated;
    }

    // The tool's own page-definition version; empty disables "versionmin"/"versionmax".
    static orbilib::utils::CVersion m_gCurrentXmlVersion;

    // Elements more than this many levels deep in their document (the root
    // element is level 1) are refused, by CXmlDefinitionReader before TinyXML
    // reads them and by parse, so a hostile definition cannot exhaust the stack.
    static const int m_gMaxElementDepth;

    // Objects are numbered as they are constructed, so a container can tell an
    // object its createWidget made just now from one that existed before (the
    // main window hands out its pre-built page holder): only the former is its
    // to delete when parsing or placing fails.
    quint64 creationSerial() const { return m_nCreationSerial; }
    static quint64 nextCreationSerial() { return m_gNextCreationSerial; }

    // Reads a "t"/"true"/"f"/"false" value (any case) into result; returns false,
    // leaving result alone, for anything else.
    static bool parseBoolean(const QString& value, bool& result);

protected:
    // Sets the name; lookups by name see the change.
    void setName(const QString& name);
    // How deep element is below the root of its document (the document node is 0).
    static int elementDepth(const TiXmlElement* element);

    CXmlObject* m_pParent;
    QString m_sName;
    QString m_sLanguage;
    QString m_sProperty;
    QString m_sDefaultValue;
    QList<CXmlObject*> m_lChildren;
    QList<CActionItem*> m_lActions;
    bool m_bChanged = false;
    bool m_bInitialized = false;
    bool m_bHasDefault = false;
    bool m_bAllowEmpty = false;
    bool m_bSecret = false;
    QString m_sKind;
    std::shared_ptr<CustomWidgetObsoleteException> m_pLoadedXmlDeprecated;

private:
    quint64 m_nCreationSerial;
    static quint64 m_gNextCreationSerial;
    // Bumped whenever an object is made, destroyed, detached or renamed: an index
    // of names built at another value is out of date.
    static quint64 m_gTreeGeneration;
};
