# Everything comes from Debian's packages (scripts/install-deps).
find_package(Qt5 5.11 REQUIRED COMPONENTS Core Gui Widgets Network Xml)
find_package(Boost 1.53 REQUIRED COMPONENTS thread regex filesystem system date_time)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

# TinyXML is built with TIXML_USE_STL on Debian; every user must define it too.
find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
find_library(TINYXML_LIBRARY tinyxml REQUIRED)
if(NOT TARGET TinyXML::TinyXML)
  add_library(TinyXML::TinyXML UNKNOWN IMPORTED)
  set_target_properties(TinyXML::TinyXML PROPERTIES
    IMPORTED_LOCATION "${TINYXML_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${TINYXML_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
endif()

if(NOT APPLE)
  pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
  pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
  find_package(ZLIB REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()

if(TESSARY_BUILD_TESTS)
  find_package(GTest REQUIRED)
  find_package(Qt5 REQUIRED COMPONENTS Test)
endif()
