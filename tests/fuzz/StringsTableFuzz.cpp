// Feeds arbitrary bytes to the .strings table parser (UTF-8, UTF-16 with either
// byte order). A fault must be named with its place, and the result must
// depend on the bytes alone. Any crash, sanitizer report or hang is a finding.

#include "platform/localization/StringsTable.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "StringsTableFuzz: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1024 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QString error = QStringLiteral("not yet parsed");
    const Localization::StringsTable table = Localization::StringsTable::fromData(bytes, &error);
    if (!error.isEmpty() && !error.startsWith(QLatin1String("line ")) &&
        !error.startsWith(QLatin1String("invalid ")))
        finding("a fault is reported without its place");
    // Parsing is a pure function of the bytes.
    QString again;
    const Localization::StringsTable second = Localization::StringsTable::fromData(bytes, &again);
    if (again != error || second.size() != table.size())
        finding("the same bytes parse differently twice");
    // A null error pointer is allowed.
    if (Localization::StringsTable::fromData(bytes, nullptr).size() != table.size())
        finding("the result depends on whether the error is asked for");
    return 0;
}
