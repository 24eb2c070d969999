#pragma once

#include <filecask/StreamStore.h>
#include <filecask/filecask_export.h>

#include <preference/PreferenceBaseDecorator.h>

#include <boost/shared_ptr.hpp>

namespace Preference
{
namespace detail
{
class XmlStore_pimpl;
}

// A settings store that keeps its whole tree of keys and values as one XML
// document in one record of a stream store. Changes reach the record file when
// the outermost counted lock is released; reads see the document as of the last
// reload.
class FILECASK_EXPORT XmlStore : public PreferenceBaseDecorator
{
public:
    // recordIndex names the record holding the document (not negative); with
    // pretty the document is written indented, one element per line.
    XmlStore(const boost::shared_ptr<StreamStore>& store, int recordIndex, bool pretty);
    ~XmlStore() override;

    boost::shared_ptr<StreamStore> GetStreamStore() const;

private:
    explicit XmlStore(const boost::shared_ptr<detail::XmlStore_pimpl>& store);

    detail::XmlStore_pimpl* m_pXmlStore;
};

} // namespace Preference
