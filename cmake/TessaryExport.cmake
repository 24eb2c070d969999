# The exported CMake package of the shared libraries (see tessary_shared_library).
include(CMakePackageConfigHelpers)
set(TESSARY_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Tessary")
install(EXPORT TessaryTargets NAMESPACE Tessary:: DESTINATION "${TESSARY_INSTALL_CMAKEDIR}"
  COMPONENT dev)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/TessaryConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/TessaryConfig.cmake"
  INSTALL_DESTINATION "${TESSARY_INSTALL_CMAKEDIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/TessaryConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/TessaryConfig.cmake"
  "${PROJECT_BINARY_DIR}/TessaryConfigVersion.cmake"
  DESTINATION "${TESSARY_INSTALL_CMAKEDIR}" COMPONENT dev)
