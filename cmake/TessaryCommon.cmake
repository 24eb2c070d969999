# Settings every target of the project shares.

# No file the build writes names the folders it was built in (sources, build tree):
# binaries and their debug information record paths relative to them.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)

# The hardening Debian builds its packages with, for a program that reads untrusted
# installers: checked buffer functions, stack protection, a read-only relocation
# table bound at start-up, position-independent executables. Fortified functions
# need optimisation, and the sanitizers bring their own checks.
option(TESSARY_HARDENING "Build with Debian's hardening flags (optimised, uninstrumented builds)" ON)
if(TESSARY_HARDENING AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$"
   AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
  include(CheckPIESupported)
  check_pie_supported()
endif()
add_library(tessary_common INTERFACE)
target_compile_features(tessary_common INTERFACE cxx_std_17)
target_compile_options(tessary_common INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>:-Wall -Wextra -Wpedantic -Wnon-virtual-dtor>
  $<$<AND:$<BOOL:${TESSARY_WERROR}>,$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>>:-Werror>)
# Headers outside the including file's own folder are named from the source root
# ("app/packages/FlatPackage.h"), so a reader sees where each one lives. Installed
# libraries name their public headers from their include/ folder instead.
target_include_directories(tessary_common INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
target_compile_definitions(tessary_common INTERFACE
  QT_USE_QSTRINGBUILDER
  QT_DISABLE_DEPRECATED_BEFORE=0x050F00
  TESSARY_VERSION_STRING="${PROJECT_VERSION}")

# tessary_export_header(TARGET BASE): <target>/<target>_export.h with BASE_EXPORT.
function(tessary_export_header target base)
  generate_export_header(${target}
    BASE_NAME ${base}
    EXPORT_FILE_NAME "${CMAKE_CURRENT_BINARY_DIR}/include/${target}/${target}_export.h")
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${TESSARY_INSTALL_INCLUDEDIR}>)
endfunction()

# Installed headers sit in a folder of the project's own (include/tessary/preference/...),
# so that generic names such as CoreFoundation/ clash with no other package; the
# exported targets add that folder to their users' include path.
set(TESSARY_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/tessary")

# tessary_shared_library(TARGET BASE [FILE_NAME name]): sets up a shared library the
# same way for all of them: version and soname (lib<name>.so.<major>, the target's
# name unless FILE_NAME gives another), hidden symbols with an export header, public
# headers from include/<target>, the alias Tessary::<target>, and installation into
# the exported package that other programs find with find_package(Tessary). The
# library goes to the Debian package named after its soname (lib<name><major>); its
# unversioned link and headers to the -dev package with the CMake package.
function(tessary_shared_library target base)
  cmake_parse_arguments(L "" "FILE_NAME" "" ${ARGN})
  if(NOT L_FILE_NAME)
    set(L_FILE_NAME ${target})
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${L_FILE_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${target})
  add_library(Tessary::${target} ALIAS ${target})
  tessary_export_header(${target} ${base})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${TESSARY_INSTALL_INCLUDEDIR}>)
  set(package lib${L_FILE_NAME}${PROJECT_VERSION_MAJOR})
  install(TARGETS ${target} EXPORT TessaryTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${package} NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${package})
  install(DIRECTORY include/${target} DESTINATION ${TESSARY_INSTALL_INCLUDEDIR} COMPONENT dev)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/include/${target}/${target}_export.h"
    DESTINATION ${TESSARY_INSTALL_INCLUDEDIR}/${target} COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY TESSARY_LIBRARY_PACKAGES ${package})
  set_property(GLOBAL PROPERTY TESSARY_LIBRARY_TARGET_${package} ${target})
endfunction()
