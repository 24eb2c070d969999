// Fuzzes the document read without widgets: a page definition's properties under
// the field rules, a customization's entries applied to them, and the migration
// report between two readings. Nothing may crash, hang or grow without bound.

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"
#include "app/document/Migration.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <cstdint>
#include <tinyxml.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = []
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        return true;
    }();
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    CDocument previous(QStringLiteral("mac"), {QStringLiteral("debug")});
    QString error;
    const bool loaded = previous.load(bytes, error);
    CCustomizationFile::CContents contents;
    if (CCustomizationFile::read(bytes, contents, error) || loaded)
    {
        // A customization's values over a definition, and carried to another reading.
        if (contents.m_lEntries.isEmpty())
            for (const CCustomizationFile::CEntry& entry : previous.entries(false))
                contents.m_lEntries.append(
                    {entry.m_sProperty, entry.m_sWidget, entry.m_sValue + 'x'});
        previous.apply(contents.m_lEntries);
        CDocument next(QStringLiteral("linux"));
        next.load(bytes, error);
        for (const CMigration::CItem& item : CMigration::migrate(contents, &previous, next))
            CMigration::describe(item);
        next.entries(true);
    }
    return 0;
}
