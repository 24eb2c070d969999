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
  # Debian wants the copyright and a compressed changelog in the package's doc folder.
  set(_changelog "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
  execute_process(COMMAND gzip -n -9 -c "${_desktop}/changelog" OUTPUT_FILE "${_changelog}")
  install(FILES "${_desktop}/copyright" "${_changelog}"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessary)
  foreach(_page Tessary tessary-cli)
    set(_manual "${CMAKE_CURRENT_BINARY_DIR}/${_page}.1.gz")
    execute_process(COMMAND gzip -n -9 -c "${PROJECT_SOURCE_DIR}/docs/${_page}.1"
      OUTPUT_FILE "${_manual}")
    install(FILES "${_manual}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()

set(CPACK_PACKAGE_NAME "tessary")
set(CPACK_PACKAGE_VENDOR "Ombrel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "preset an installer's options and publish a customized copy")
set(CPACK_PACKAGE_DESCRIPTION
  "Tessary opens a vendor's installer (flat or bundle package, disk image,
Linux script installer), shows the installation options an administrator
may preset as a paged configuration window, saves the values as a
customization file and publishes a customized copy of the installer for
deployment to many computers.")
set(CPACK_PACKAGE_CONTACT "Ombrel Tessary team <tessary@ombrel.example>")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessary.ombrel.example/")
# The libraries' own dependencies come from dpkg-shlibdeps; the tools the program
# runs by name are listed: 7-Zip opens UDIF disk images (gzip is essential).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The package ships shared libraries, so the linker cache is refreshed by trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/res/desktop/triggers")
include(CPack)
