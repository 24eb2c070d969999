#pragma once

#include <filecask/FileCask.h>
#include <filecask/filecask_export.h>

#include <string>

namespace Preference
{

// A FileCask holding exactly one record: the whole file, with no header.
class FILECASK_EXPORT SimpleFileCask : public FileCask
{
public:
    SimpleFileCask(AccessRights rights, const std::wstring& path);
    ~SimpleFileCask() override;

    bool Load() override;
    bool Save() override;
    unsigned int GetCount() const override;
    std::string GetData(unsigned int index) const override;
    void SetData(unsigned int index, const std::string& data) override;

private:
    std::string m_sData;
};

} // namespace Preference
