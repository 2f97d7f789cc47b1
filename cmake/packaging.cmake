# Installation and the Debian packages.
#
# component "driver": the filters in CUPS's ServerBin, the PPD set where
#   cups-driverd finds drivers (lpinfo -m, lpadmin -m), and the tools
#   ovik-decode, ovik-models and ovik-sim; package "rastertoovik".
# component "app": ovik-printer-app, its systemd unit (installed, not
#   enabled) and the README; package "ovik-printer-app".
# component "development": libovik and the job engine libovikengine (both
#   static), their C headers and a pkg-config file each, under the install
#   prefix; package "libovik-dev".
#
# The CUPS locations are absolute: CUPS looks there whatever the prefix is.
# DESTDIR applies to them as to everything else.

include(GNUInstallDirs)

# Installing and packaging take what is built; they do not first build the
# tests and benchmarks too (build the driver, then install).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# cupsd refuses filters that are group- or world-writable, and directories
# made on the way must not be either, whatever the installing user's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(CUPS_CONFIG_EXECUTABLE cups-config)
set(serverbin /usr/lib/cups)
if(CUPS_CONFIG_EXECUTABLE)
  execute_process(COMMAND ${CUPS_CONFIG_EXECUTABLE} --serverbin
                  OUTPUT_VARIABLE serverbin OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(OVIK_CUPS_SERVERBIN ${serverbin} CACHE PATH "CUPS ServerBin: the filter goes into its filter/ folder")
set(OVIK_PPD_INSTALL_DIR /usr/share/ppd/rastertoovik CACHE PATH "Folder of the PPD set, one that cups-driverd scans")

install(TARGETS rastertoovik commandtoovik RUNTIME DESTINATION ${OVIK_CUPS_SERVERBIN}/filter COMPONENT driver)
install(DIRECTORY ${OVIK_PPD_DIR}/ DESTINATION ${OVIK_PPD_INSTALL_DIR} COMPONENT driver
        FILES_MATCHING PATTERN "*.ppd")
install(TARGETS ovik-decode ovik-models ovik-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT driver)

# libovik is C++ inside, so C programs link the C++ runtime with it; the
# pkg-config file says so and finds its prefix relative to itself.
install(TARGETS ovik ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
file(GLOB OVIK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/lib/*.h)
install(FILES ${OVIK_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovik COMPONENT development)
file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix ${pc_to_prefix})
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/ovik.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@pc_to_prefix@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@/ovik

Name: ovik
Description: Ovik printer support library: command encoders, reply parsers, model catalogue, error texts
Version: @PROJECT_VERSION@
Cflags: -I${includedir}
Libs: -L${libdir} -lovik -lstdc++
]])
install(FILES ${PROJECT_BINARY_DIR}/ovik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The job engine: its one header beside the library's, and what it links.
install(TARGETS ovikengine ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ovik COMPONENT development)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/ovikengine.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@pc_to_prefix@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@/ovik

Name: ovikengine
Description: Ovik job engine: one print job per object, from settings and 1-bit pages to the printer stream
Version: @PROJECT_VERSION@
Requires: ovik
Cflags: -I${includedir}
Libs: -L${libdir} -lovikengine -lisal -lz
]])
install(FILES ${PROJECT_BINARY_DIR}/ovikengine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# "uninstall" removes every file the last install listed in its manifest,
# then the folders that only this project fills. The manifest holds paths
# without DESTDIR: uninstall with the DESTDIR the install had.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/cmake_uninstall.cmake @ONLY CONTENT [[
set(manifest "@PROJECT_BINARY_DIR@/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "No ${manifest}: nothing was installed from this build")
endif()
file(STRINGS "${manifest}" installed)
foreach(file IN LISTS installed)
  set(file "$ENV{DESTDIR}${file}")
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()
foreach(dir "@OVIK_PPD_INSTALL_DIR@" "@CMAKE_INSTALL_FULL_INCLUDEDIR@/ovik")
  file(GLOB left "$ENV{DESTDIR}${dir}/*")
  if(IS_DIRECTORY "$ENV{DESTDIR}${dir}" AND NOT left)
    file(REMOVE_RECURSE "$ENV{DESTDIR}${dir}")
  endif()
endforeach()
]])
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${PROJECT_BINARY_DIR}/cmake_uninstall.cmake
                  COMMENT "Removing the installed files")

# The printer application, where PAPPL is there to build it.
set(OVIK_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Folder of systemd's system units")
if(TARGET ovik-printer-app)
  install(TARGETS ovik-printer-app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT app)
  install(FILES ${PROJECT_SOURCE_DIR}/app/ovik-printer-app.service DESTINATION ${OVIK_SYSTEMD_UNIT_DIR} COMPONENT app)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/ovik-printer-app
          COMPONENT app)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastertoovik)
set(CPACK_PACKAGE_VENDOR "rastertoovik")
set(CPACK_PACKAGE_CONTACT "rastertoovik maintainers <root@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL driver development)
if(TARGET ovik-printer-app)
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME rastertoovik)
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION text)
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "cups")
set(CPACK_COMPONENT_DRIVER_DESCRIPTION "CUPS driver for Ovik thermal receipt and label printers
The rastertoovik filter and one PPD per printer model of the catalogue, with
the paper cut, feeds, beeper, cash drawers and stored logo as job options;
the commandtoovik filter for CUPS command files (open a drawer, beep, the
self-test page, the paper state), and StoreLogo to store a logo.
Also ovik-decode, which lists and previews a printer data stream, and
ovik-sim, a printer simulator on a loopback port for trying a queue.")

set(CPACK_DEBIAN_APP_PACKAGE_NAME ovik-printer-app)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION net)
set(CPACK_COMPONENT_APP_DESCRIPTION "Printer application for Ovik thermal receipt and label printers
ovik-printer-app shows each Ovik printer as an IPP Everywhere printer, so
that CUPS, phones and other IPP clients print to it without a driver. One
driver per model of the catalogue; the cut, feeds, beeper, cash drawers and
stored logo as printer and job options; paper and cover status; a web page
to add printers and set their defaults. A systemd unit comes with it, not
enabled: systemctl enable --now ovik-printer-app.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libovik-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libstdc++-dev, libisal-dev, zlib1g-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "Ovik printer support library and job engine (static), with C headers
Byte-exact encoders of the Ovik printer commands, parsers of the printer's
replies, the printer model catalogue, error texts and string helpers; and the
job engine that turns settings and 1-bit pages into the printer data stream,
one job per object, through a sink of the caller's.")

include(CPack)
