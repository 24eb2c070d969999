# Settings every target of the project shares.
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
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endfunction()

# tessary_shared_library(TARGET BASE): sets up a shared library the same way for all
# of them: version and soname, hidden symbols with an export header, public headers
# from include/<target>, the alias Tessary::<target>, and installation into the
# exported package that other programs find with find_package(Tessary).
function(tessary_shared_library target base)
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${target})
  add_library(Tessary::${target} ALIAS ${target})
  tessary_export_header(${target} ${base})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT TessaryTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY include/${target} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/include/${target}/${target}_export.h"
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${target})
endfunction()
