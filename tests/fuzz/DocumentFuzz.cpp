// Fuzzes the document as both programs hold it: a page definition built into a
// tree nobody sees, a customization's entries offered to its fields, and the
// migration report between two readings. The tree's actions ask nobody (programs,
// files and choosers are never run), so they may run as they would. Nothing may
// crash, hang or grow without bound.

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/Migration.h"

#include <QApplication>
#include <QByteArray>
#include <QLoggingCategory>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Kept for the whole run: Qt's platform objects stay reachable, so the leak
    // checker reports only what the inputs leak.
    static QApplication* application = new QApplication(*argc, *argv);
    Q_UNUSED(application);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        CDocument previous;
        previous.root().setPackageOS(QStringLiteral("mac"));
        previous.root().setOptions({QStringLiteral("debug")});
        QString error;
        const bool loaded = previous.loadDefinition(bytes, error);
        if (!loaded && error.isEmpty())
            std::abort(); // a refusal must always say why
        CCustomizationFile::CContents contents;
        if (CCustomizationFile::read(bytes, contents, error) || loaded)
        {
            // A customization's values over a definition, and carried to another reading.
            if (contents.m_lEntries.isEmpty())
                for (const CCustomizationFile::CEntry& entry : previous.entries(false))
                    contents.m_lEntries.append(
                        {entry.m_sProperty, entry.m_sWidget, entry.m_sValue + 'x'});
            previous.applyEntries(contents.m_lEntries);
            previous.runChecks();
            CDocument next;
            next.root().setPackageOS(QStringLiteral("linux"));
            next.loadDefinition(bytes, error);
            for (const CMigration::CItem& item : CMigration::migrate(contents, &previous, next))
                CMigration::describe(item);
            next.entries(true);
            next.publishRefusal();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
