# The packages CPack makes from the install components (scripts/package.sh
# builds them into dist/):
#   Linux    one Debian package per component: kelvoprog (tool), libquexN
#            (runtime, N the SONAME's major), libquex-dev (dev), quexsim (sim)
#   Windows  one zip of tool, runtime and dev, and the same files in an
#            installer (target `installer`, with NSIS)
# Their version is the project's, from quex.h.
option(KELVO_DEBIAN_DOCS
  "Install share/doc/<package>/copyright and changelog.Debian.gz with each component (Debian packages)" OFF)

set(KELVO_MAINTAINER "The kelvoprog authors <kelvoprog@example.org>")
set(CPACK_PACKAGE_NAME kelvoprog)
set(CPACK_PACKAGE_VENDOR "The kelvoprog authors")
set(CPACK_PACKAGE_CONTACT ${KELVO_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelvoprog-${PROJECT_VERSION}-win64)
  set(CPACK_COMPONENTS_ALL tool runtime dev)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  include(CPack)
  # The installer (NSIS, packaging/windows/kelvoprog.nsi) holds what the zip holds.
  find_program(KELVO_MAKENSIS makensis NO_CMAKE_FIND_ROOT_PATH)
  if(KELVO_MAKENSIS)
    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSTAGE=${PROJECT_BINARY_DIR}/installer-stage
              -DSCRIPT=${PROJECT_SOURCE_DIR}/packaging/windows/kelvoprog.nsi -DVERSION=${PROJECT_VERSION}
              -DOUTPUT=${PROJECT_BINARY_DIR}/kelvoprog-${PROJECT_VERSION}-setup.exe -DMAKENSIS=${KELVO_MAKENSIS}
              -P ${PROJECT_SOURCE_DIR}/cmake/nsis_installer.cmake
      DEPENDS kelvoprog quex_shared VERBATIM)
  endif()
  return()
endif()

set(KELVO_DEB_REVISION 1)
set(KELVO_DEB_VERSION ${PROJECT_VERSION}-${KELVO_DEB_REVISION})
set(KELVO_DEB_PACKAGES tool:kelvoprog runtime:libquex${QUEX_VERSION_MAJOR} dev:libquex-dev sim:quexsim)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool runtime dev sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KELVO_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE kelvoprog)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on shared libraries come from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

foreach(entry ${KELVO_DEB_PACKAGES})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 component)
  list(GET entry 1 package)
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  set(KELVO_DEB_PACKAGE_${component} ${package})
endforeach()

set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "commissioning tool for Kelvo network devices
kelvoprog finds the devices that run the Kelvo embedded operating system
on the local IPv4 networks, gives one device a static address or DHCP,
and uploads firmware to it by FTP.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "QUEX device protocol library
The QUEX library discovers Kelvo network devices by UDP multicast, queries
them, and changes their network settings, with synchronous and
asynchronous searches.
.
This package contains the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${KELVO_DEB_PACKAGE_runtime} (= ${KELVO_DEB_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "QUEX device protocol library (development files)
The QUEX library discovers Kelvo network devices by UDP multicast, queries
them, and changes their network settings, with synchronous and
asynchronous searches.
.
This package contains the header, the pkg-config file, the CMake package
(quex::quex) and the manual page.")

set(CPACK_DEBIAN_SIM_PACKAGE_SECTION net)
# The lab script calls ip (iproute2), unshare (util-linux) and mount; its FTP
# server is Python's pyftpdlib.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "iproute2, util-linux (>= 2.27), mount")
set(CPACK_DEBIAN_SIM_PACKAGE_RECOMMENDS "python3-pyftpdlib")
set(CPACK_DEBIAN_SIM_DESCRIPTION "simulated QUEX devices and a private lab for kelvoprog
quexsim plays any number of QUEX devices described in a JSON file: it
answers discovery requests and directed queries and carries out
configuration requests. quexsim-lab runs kelvoprog or any command against
it through private network namespaces, so nothing reaches a real network.")

# Each Debian package carries its copyright (the MIT license) and a changelog.
if(KELVO_DEBIAN_DOCS)
  string(TIMESTAMP KELVO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # honours SOURCE_DATE_EPOCH
  configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.Debian.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian VERBATIM)
  add_custom_target(kelvo_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
  foreach(component tool runtime dev sim)
    set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${KELVO_DEB_PACKAGE_${component}})
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE RENAME copyright DESTINATION ${doc_dir}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${doc_dir}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
endif()

include(CPack)
