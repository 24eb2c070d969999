#pragma once

#include "PlistStore_pimpl.h"

#include <cstddef>
#include <string>

namespace Preference
{
namespace detail
{

// A store kept in one property-list file of its own, "<directory>/<id>.plist".
// Every change is written to the file at once; the file is held open under an
// exclusive advisory lock while the store's counted lock is held.
class LegacyPlistStore_pimpl : public PlistStore_pimpl
{
public:
    LegacyPlistStore_pimpl(CFStringRef directory, CFStringRef applicationId);
    ~LegacyPlistStore_pimpl() override;

    bool TryLock(int timeout) override;
    void UnLock() override;
    bool Reload() override;
    bool Commit() override;
    CFTypePtr ReadPreference(const CFStringPtr& name) override;
    bool WritePreference(const CFStringPtr& name, CFPropertyListRef value) override;

    // What a new, empty file receives, so that it is a valid property list.
    static const char* EmptyDocument();

protected:
    // Every change goes to the file when it is made.
    bool KeepsChangesInMemory() const override { return false; }

private:
    // The file's root dictionary; empty when the file is missing or empty, and
    // also when it cannot be read, which readable then says: such a file is
    // never replaced.
    CFTypePtr ReadFile(bool& readable) const;
    // The file the path stands for: itself, or what the user's own link there
    // names; false (with a message) for a link another user owns.
    bool FilePath(std::string& path) const;
    // One attempt at opening and locking the file; true when m_nFile holds it.
    // Sets retry when another process holds the lock.
    bool OpenLocked(bool& retry);

    // Writes the whole file anew and renames it over the old one, keeping the
    // file lock (when held) on the file now at the path.
    bool ReplaceFile(const char* bytes, std::size_t size);

    static Guard& LegacyGuard();

    std::string m_sPath;
    int m_nFile;
};

} // namespace detail
} // namespace Preference
