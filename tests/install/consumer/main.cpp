// Keeps a setting in a file store and reads it back through a second store on the
// same file, as a program using the installed libraries would.
#include <filecask/FileCask.h>
#include <filecask/XmlStore.h>
#include <preference/Preference.h>

#include <boost/make_shared.hpp>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string narrow = argv[1];
    const std::wstring path(narrow.begin(), narrow.end());
    Preference::Initialize();
    {
        Preference::XmlStore writer(
            boost::make_shared<Preference::FileCask>(Preference::FileCask::PrivateAccess, path), 0,
            false);
        if (!writer.Write(L"Software/Consumer", L"Greeting", L"hello from a consumer"))
            return 1;
    }
    Preference::XmlStore reader(
        boost::make_shared<Preference::FileCask>(Preference::FileCask::PrivateAccess, path), 0,
        false);
    std::wstring value;
    if (!reader.Read(L"Software/Consumer", L"Greeting", value, L"absent"))
        return 1;
    std::wcout << value << std::endl;
    Preference::UnInitialize();
    return value == L"hello from a consumer" ? 0 : 1;
}
