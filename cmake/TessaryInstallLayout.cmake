# Where an installation puts things, relative to its prefix, so that the installed
# tree works wherever it is unpacked: the program finds its libraries through an
# $ORIGIN-relative RPATH, and its tools and data relative to its own location
# (../libexec/tessary, ../share/tessary).
if(NOT APPLE)
  file(RELATIVE_PATH _tessary_bin_to_lib
    "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  set(CMAKE_INSTALL_RPATH "$ORIGIN/${_tessary_bin_to_lib};$ORIGIN")
  set(CMAKE_INSTALL_RPATH_USE_LINK_PATH OFF)
endif()
set(TESSARY_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/tessary")
