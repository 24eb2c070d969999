#pragma once

#include <QHash>
#include <QMultiMap>
#include <QString>

class CXmlObject;

// The value every installation property had when its page definition was loaded,
// before any customization was applied: what "unchanged" means for the review.
class CPropertyDefaults
{
public:
    // Replaces the snapshot with the current values of properties.
    void capture(const QMultiMap<QString, CXmlObject*>& properties);
    bool contains(const CXmlObject* object) const { return m_values.contains(object); }
    // The value object had when captured (empty when it was not captured).
    QString defaultOf(const CXmlObject* object) const { return m_values.value(object); }
    // Whether object's value is not the captured one (objects never captured count
    // as changed).
    bool differs(const CXmlObject* object) const;

private:
    QHash<const CXmlObject*, QString> m_values;
};
