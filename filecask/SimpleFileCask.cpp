#include <filecask/SimpleFileCask.h>

#include <filecask/StdIStreamWrapper.h>

#include <iterator>

namespace Preference
{

SimpleFileCask::SimpleFileCask(AccessRights rights, const std::wstring& path)
    : FileCask(rights, path)
{
}

SimpleFileCask::~SimpleFileCask() = default;

bool SimpleFileCask::Load()
{
    m_sData.clear();
    boost::shared_ptr<IStreamWrapper> input = GetIStream();
    auto* wrapper = dynamic_cast<StdIStreamWrapper*>(input.get());
    if (!wrapper || !wrapper->GetStream() || !wrapper->GetStream()->good())
        return false;
    std::istream& stream = *wrapper->GetStream();
    m_sData.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    return !m_sData.empty();
}

bool SimpleFileCask::Save()
{
    return ReplaceFile(m_sData);
}

unsigned int SimpleFileCask::GetCount() const
{
    return 1;
}

std::string SimpleFileCask::GetData(unsigned int index) const
{
    return index == 0 ? m_sData : std::string();
}

void SimpleFileCask::SetData(unsigned int index, const std::string& data)
{
    if (index == 0)
        m_sData = data;
}

} // namespace Preference
