#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

class CCliDocument;

// tessary-cli diff: what differs between two customizations, between a customization
// and its installer's defaults, or between a customization and what it would become on
// another release. Also show --values, one stable line per saved value, for git's
// textconv. Secret values are never printed, only whether they are set.
class CCliDiff
{
    Q_DECLARE_TR_FUNCTIONS(CCliDiff)

public:
    // One value on one side of a comparison.
    struct CValue
    {
        QString m_sProperty;
        QString m_sWidget;
        QString m_sValue;
        bool m_bSecret = false;
        // A secret the customization was saved without: its value is not known.
        bool m_bOmitted = false;
    };

    struct CChange
    {
        enum Kind
        {
            Added,   // only on the right
            Removed, // only on the left
            Changed
        };
        Kind m_kind = Changed;
        QString m_sProperty;
        QString m_sWidget;
        // The property, with its widget when the property has several.
        QString m_sLabel;
        CValue m_from;
        CValue m_to;
        bool m_bSecret = false;
    };

    CCliDiff(QTextStream& out, QTextStream& err);

    // diff A [B] [--to NEW_INSTALLER] [--option NAME]... [--json]; the exit status:
    // 0 the same, 1 different, 2 usage or unreadable input.
    int diff(const QStringList& arguments);
    // show --values FILE [--installer PATH] [--option NAME]...
    int values(const QStringList& arguments);

    // The changes from left to right, in order (the keys "property\x1fwidget" of a
    // definition), then the rest by property and widget. A value is secret when
    // either side says so.
    static QList<CChange> compare(const QList<CValue>& left, const QList<CValue>& right,
                                  const QStringList& order);
    // One line per change: "~ NAME: "old" -> "new"", "+ NAME: ...", "- NAME: ...".
    static QString text(const QList<CChange>& changes);
    // The key compare() orders by.
    static QString key(const QString& property, const QString& widget);

private:
    struct COptions
    {
        QStringList m_lPlain;
        bool m_bJson = false;
        QString m_sTo;
        QString m_sInstaller;
        QStringList m_lOptions;
    };
    bool parse(const QStringList& arguments, bool forValues, COptions& options,
               QString& error) const;
    int fail(int status, const QString& message);
    void note(const QString& message);

    // Marks values secret that document's fields say are, and adds the keys of its
    // installation properties, in definition order, to order.
    static void useDefinition(const CCliDocument& document, QList<CValue>& values,
                              QStringList& order);

    int print(const QString& left, const QString& right, const QString& against,
              const QList<CChange>& changes, bool json);

    QTextStream& m_out;
    QTextStream& m_err;
};
