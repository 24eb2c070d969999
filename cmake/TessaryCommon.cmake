# Settings every target of the project shares.
add_library(tessary_common INTERFACE)
target_compile_features(tessary_common INTERFACE cxx_std_17)
target_compile_options(tessary_common INTERFACE
  $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>:-Wall -Wextra -Wpedantic -Wnon-virtual-dtor>
  $<$<AND:$<BOOL:${TESSARY_WERROR}>,$<COMPILE_LANG_AND_ID:CXX,GNU,Clang,AppleClang>>:-Werror>)
target_compile_definitions(tessary_common INTERFACE
  QT_USE_QSTRINGBUILDER
  QT_DISABLE_DEPRECATED_BEFORE=0x050F00
  TESSARY_VERSION_STRING="${PROJECT_VERSION}")

# tessary_shared_library(NAME VERSION SOVERSION): a shared library that hides its
# symbols and exports its documented interface through <name>_export.h.
function(tessary_export_header target base)
  generate_export_header(${target}
    BASE_NAME ${base}
    EXPORT_FILE_NAME "${CMAKE_CURRENT_BINARY_DIR}/include/${target}/${target}_export.h")
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endfunction()
