#include <filecask/XmlStore.h>

#include "detail/XmlStore_pimpl.h"

#include <boost/make_shared.hpp>

namespace Preference
{

XmlStore::XmlStore(const boost::shared_ptr<StreamStore>& store, int recordIndex, bool pretty)
    : XmlStore(boost::make_shared<detail::XmlStore_pimpl>(store, recordIndex, pretty))
{
}

XmlStore::XmlStore(const boost::shared_ptr<detail::XmlStore_pimpl>& store)
    : PreferenceBaseDecorator(store), m_pXmlStore(store.get())
{
}

XmlStore::~XmlStore() = default;

boost::shared_ptr<StreamStore> XmlStore::GetStreamStore() const
{
    return m_pXmlStore->GetStreamStore();
}

} // namespace Preference
