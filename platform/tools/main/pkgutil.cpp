// pkgutil: expands a flat package into a directory and flattens one back, as Apple's tool does.
#include "FlatPackage.h"
#include "ToolError.h"

#include <iostream>
#include <string>

using namespace PlatformTools;

int main(int argc, char** argv)
{
    const std::string sCommand = argc > 1 ? argv[1] : "";
    if (argc != 4 || (sCommand != "--expand" && sCommand != "--flatten"))
    {
        std::cerr << "usage: pkgutil --expand PACKAGE DIRECTORY\n"
                     "       pkgutil --flatten DIRECTORY PACKAGE\n";
        return 1;
    }
    try
    {
        if (sCommand == "--expand")
            CFlatPackage::expand(argv[2], argv[3]);
        else
            CFlatPackage::flatten(argv[2], argv[3]);
        return 0;
    }
    catch (const std::exception& error)
    {
        std::cerr << "pkgutil: " << (sCommand == "--expand" ? "cannot expand " : "cannot flatten ")
                  << argv[2] << ": " << error.what() << '\n';
        return 1;
    }
}
