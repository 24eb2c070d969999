# Desktop integration (menu entry, icons, file types, AppStream data) and the
# Debian package built by CPack.
if(NOT APPLE)
  set(_desktop "${PROJECT_SOURCE_DIR}/res/desktop")
  # The strings tables are compiled into the program too; installed, they can be
  # read and amended without rebuilding.
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/res/strings/" DESTINATION ${TESSARY_INSTALL_DATADIR}/strings)
  install(FILES "${_desktop}/com.ombrel.Tessary.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${_desktop}/com.ombrel.Tessary.metainfo.xml"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES "${_desktop}/com.ombrel.Tessary.mime.xml"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME com.ombrel.Tessary.xml)
  foreach(size 16 22 24 32 48 64 128 256 512)
    install(FILES "${_desktop}/icons/com.ombrel.Tessary-${size}.png"
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME com.ombrel.Tessary.png)
  endforeach()
  install(FILES "${_desktop}/icons/com.ombrel.Tessary.svg"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(_page Tessary tessary-cli)
    set(_manual "${CMAKE_CURRENT_BINARY_DIR}/${_page}.1.gz")
    execute_process(COMMAND gzip -n -9 -c "${PROJECT_SOURCE_DIR}/docs/${_page}.1"
      OUTPUT_FILE "${_manual}")
    install(FILES "${_manual}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  # Shell completions, where bash-completion and zsh look for them by command name.
  set(_completions "${PROJECT_SOURCE_DIR}/packaging/completions")
  install(FILES "${_completions}/tessary-cli.bash"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tessary-cli)
  install(FILES "${_completions}/_tessary-cli"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
endif()

# The Debian packages: the program in tessary, each shared library in a package named
# after its soname (see tessary_shared_library), and what programs building against
# them need (headers, unversioned links, the CMake package) in libtessary-dev.
get_property(_libraries GLOBAL PROPERTY TESSARY_LIBRARY_PACKAGES)
set(_packages tessary ${_libraries} libtessary-dev)
# Debian wants the copyright and a compressed changelog in each package's doc folder.
if(NOT APPLE)
  set(_changelog "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
  execute_process(COMMAND gzip -n -9 -c "${PROJECT_SOURCE_DIR}/res/desktop/changelog"
    OUTPUT_FILE "${_changelog}")
  foreach(_package IN LISTS _packages)
    set(_component ${_package})
    if(_package STREQUAL "libtessary-dev")
      set(_component dev)
    endif()
    install(FILES "${PROJECT_SOURCE_DIR}/res/desktop/copyright" "${_changelog}"
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME "tessary")
set(CPACK_PACKAGE_VENDOR "Ombrel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Ombrel Tessary team <tessary@ombrel.example>")
set(CPACK_GENERATOR "DEB")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tessary ${_libraries} dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE "tessary")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessary.ombrel.example/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(_version "${PROJECT_VERSION}")
set(_library_depends "")
foreach(_package IN LISTS _libraries)
  list(APPEND _library_depends "${_package} (= ${_version})")
endforeach()
list(JOIN _library_depends ", " _library_depends)

# The program. Its dependencies on system libraries come from dpkg-shlibdeps, which
# finds ours in the build tree; the tools it runs by name are listed: 7-Zip opens
# UDIF disk images (gzip is essential). Qt's own dialogs speak the user's language
# with Qt's translations; pkexec, for tasks that need an administrator, brings
# polkit, dbus and systemd, which a build server running tessary-cli does without.
set(CPACK_DEBIAN_TESSARY_PACKAGE_NAME "tessary")
set(CPACK_DEBIAN_TESSARY_PACKAGE_SECTION "admin")
set(CPACK_COMPONENT_TESSARY_DESCRIPTION
  "preset an installer's options and publish a customized copy
Tessary opens a vendor's installer (flat or bundle package, disk image,
Linux script installer), shows the installation options an administrator
may preset as a paged configuration window, saves the values as a
customization file and publishes a customized copy of the installer for
deployment to many computers. tessary-cli does the same from a shell or a
build pipeline, without a display.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TESSARY_PACKAGE_DEPENDS "7zip, ${_library_depends}")
set(CPACK_DEBIAN_TESSARY_PACKAGE_RECOMMENDS "qttranslations5-l10n, xdg-utils")
set(CPACK_DEBIAN_TESSARY_PACKAGE_SUGGESTS "pkexec")

# The libraries. Their dependencies are worked out when packaging (see
# TessaryCPackProject.cmake.in): CPack's own way would call ldconfig from maintainer
# scripts, where Debian uses the ldconfig trigger each package ships instead.
set(_library_summary_libpreference1 "Tessary's settings-store library")
set(_library_summary_libfilecask1 "Tessary's file-store library")
set(_library_summary_libtessary-corefoundation1 "CoreFoundation subset used by Tessary's libraries")
set(_library_summary_libtessary-localization1 "Tessary's strings-table localization library")
set(_library_dirs "")
set(_library_files "")
foreach(_package IN LISTS _libraries)
  get_property(_target GLOBAL PROPERTY TESSARY_LIBRARY_TARGET_${_package})
  get_target_property(_dir ${_target} BINARY_DIR)
  get_target_property(_name ${_target} OUTPUT_NAME)
  list(APPEND _library_dirs "${_dir}")
  list(APPEND _library_files "${_dir}/lib${_name}.so.${PROJECT_VERSION}")
  set(_uses "")
  get_target_property(_links ${_target} LINK_LIBRARIES)
  foreach(_other IN LISTS _libraries)
    get_property(_other_target GLOBAL PROPERTY TESSARY_LIBRARY_TARGET_${_other})
    if(_other_target IN_LIST _links)
      list(APPEND _uses "${_other} (= ${_version})")
    endif()
  endforeach()
  string(TOUPPER "${_package}" _upper)
  set(CPACK_TESSARY_USES_${_upper} "${_uses}")
  set(CPACK_DEBIAN_${_upper}_PACKAGE_NAME "${_package}")
  set(CPACK_DEBIAN_${_upper}_PACKAGE_SECTION "libs")
  set(CPACK_DEBIAN_${_upper}_PACKAGE_SHLIBDEPS OFF)
  set(_control "${PROJECT_BINARY_DIR}/debian/${_package}")
  file(MAKE_DIRECTORY "${_control}")
  string(REGEX REPLACE "[0-9]+$" "" _soname_base "${_package}")
  file(WRITE "${_control}/shlibs"
    "${_soname_base} ${PROJECT_VERSION_MAJOR} ${_package} (>= ${_version})\n")
  file(WRITE "${_control}/triggers" "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_${_upper}_PACKAGE_CONTROL_EXTRA "${_control}/shlibs;${_control}/triggers")
  set(CPACK_COMPONENT_${_upper}_DESCRIPTION "${_library_summary_${_package}}
This package holds the shared library lib${_name},
which Tessary and programs built with libtessary-dev use at run time.")
endforeach()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_library_dirs})

# Headers, unversioned links and the CMake package.
set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libtessary-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${_library_depends}, libboost-dev, libboost-filesystem-dev, libboost-system-dev, qtbase5-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "development files of Tessary's preference and filecask libraries
Headers, unversioned library links and the CMake package with which other
programs use Tessary's settings-store (preference) and file-store (filecask)
libraries: find_package(Tessary) gives the targets Tessary::preference and
Tessary::filecask.")

# The source tarball holds the repository as it is laid out, without build folders.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_PACKAGE_FILE_NAME "tessary-${PROJECT_VERSION}")
# Only the top folder's build folders (a path with "." or "+" matches itself). The
# patterns are written into CPack's configuration and read again, hence "\\\\".
string(REPLACE "." "\\\\." _root "${PROJECT_SOURCE_DIR}")
string(REPLACE "+" "\\\\+" _root "${_root}")
set(CPACK_SOURCE_IGNORE_FILES
  "^${_root}/build/" "^${_root}/build-[^/]*/" "^${_root}/\\\\.git(/|$)" "/\\\\.cache/"
  "/__pycache__/" "\\\\.user$" "/compile_commands\\\\.json$")

# Read by cpack when it packs: the install prefix of the Debian packages, the
# libraries' dependencies and the time recorded in every package.
set(TESSARY_CPACK_LIBRARY_PACKAGES "${_libraries}")
set(TESSARY_CPACK_LIBRARY_FILES "${_library_files}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/TessaryCPackProject.cmake.in"
  "${PROJECT_BINARY_DIR}/TessaryCPackProject.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/TessaryCPackProject.cmake")
include(CPack)
