# What `cmake --install` puts where (GNUInstallDirs), in four components:
#   tool     bin/kelvoprog, kelvoprog(1), the bash completion
#   runtime  libquex.so.X.Y.Z and its SONAME link (quex.dll on Windows)
#   dev      quex.h, the libquex.so link (import library and quex.def on
#            Windows), quex.pc, the CMake package (quex::quex), quex(3)
#   sim      quexsim, quexsim-lab with its helpers and example devices, their
#            manuals
# A plain `cmake --install` installs tool, runtime and dev; the simulator is
# installed only with `--component sim`.
include(CMakePackageConfigHelpers)
set(KELVO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quex)

install(TARGETS kelvoprog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

install(TARGETS quex_shared EXPORT quexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/quex/include/quex/quex.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quex COMPONENT dev)

# The CMake package: find_package(quex CONFIG) gives the target quex::quex.
install(EXPORT quexTargets NAMESPACE quex:: DESTINATION ${KELVO_CMAKE_PACKAGE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quexConfig.cmake INSTALL_DESTINATION ${KELVO_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quexConfig.cmake ${PROJECT_BINARY_DIR}/quexConfigVersion.cmake
  DESTINATION ${KELVO_CMAKE_PACKAGE_DIR} COMPONENT dev)

# quex.pc names the prefix the files are installed under, which is only
# known at install time (`--prefix`, CPack's staging). An archive for Windows
# can be unpacked anywhere, so there the prefix is taken from the .pc's own
# place.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUEX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUEX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(WIN32)
  file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  set(QUEX_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  string(REGEX REPLACE "/$" "" QUEX_PC_PREFIX "${QUEX_PC_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/quex.pc.in ${PROJECT_BINARY_DIR}/quex.pc @ONLY)
else()
  install(CODE "
    set(QUEX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QUEX_PC_LIBDIR [==[${QUEX_PC_LIBDIR}]==])
    set(QUEX_PC_INCLUDEDIR [==[${QUEX_PC_INCLUDEDIR}]==])
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/cmake/quex.pc.in\" \"${PROJECT_BINARY_DIR}/quex.pc\" @ONLY)
  " COMPONENT dev)
endif()
install(FILES ${PROJECT_BINARY_DIR}/quex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

if(WIN32)
  # The zip: the .def beside the import library; README, LICENSE and the
  # notices of the libraries compiled into kelvoprog.exe at the top.
  install(FILES ${QUEX_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    ${PROJECT_SOURCE_DIR}/packaging/windows/THIRD-PARTY.txt DESTINATION . COMPONENT tool)
  return()
endif()

# Manual pages, with the project's version in their title line, compressed as
# Debian wants them (man reads both).
set(KELVO_MANUALS kelvoprog.1:tool quex.3:dev quexsim.1:sim quexsim-lab.1:sim)
set(compressed_manuals)
foreach(entry ${KELVO_MANUALS})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 page)
  list(GET entry 1 component)
  string(REGEX MATCH "[0-9]$" section ${page})
  set(gz ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/man/${page} -DOUTPUT=${PROJECT_BINARY_DIR}/man/${page}
            -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/manual_page.cmake
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page} ${PROJECT_SOURCE_DIR}/cmake/manual_page.cmake VERBATIM)
  list(APPEND compressed_manuals ${gz})
  set(install_options DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  if(component STREQUAL sim)
    list(APPEND install_options EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${gz} ${install_options})
endforeach()
add_custom_target(kelvo_manuals ALL DEPENDS ${compressed_manuals})

install(FILES ${PROJECT_SOURCE_DIR}/completion/kelvoprog
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tool)

# The simulator and its lab. The lab script finds its helpers and examples
# from its own place; the installed copy gets the paths from bin/ to them.
if(TARGET quexsim)
  install(TARGETS quexsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim EXCLUDE_FROM_ALL)
  set(lab_source ${PROJECT_SOURCE_DIR}/scripts/lab)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lab_source})
  file(READ ${lab_source} lab_text)
  file(RELATIVE_PATH bin_to_libexec ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR})
  file(RELATIVE_PATH bin_to_data ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
  foreach(pair "../libexec/quexsim|${bin_to_libexec}/quexsim" "../share/quexsim/examples|${bin_to_data}/quexsim/examples")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    string(FIND "${lab_text}" "=\$here/${from}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "scripts/lab no longer sets a path to \$here/${from}: update cmake/Install.cmake")
    endif()
    string(REPLACE "=\$here/${from}\n" "=\$here/${to}\n" lab_text "${lab_text}")
  endforeach()
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/quexsim-lab CONTENT "${lab_text}")
  install(PROGRAMS ${PROJECT_BINARY_DIR}/quexsim-lab DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT sim EXCLUDE_FROM_ALL)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/netns-run ${PROJECT_SOURCE_DIR}/scripts/in-private-netns
    DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quexsim COMPONENT sim EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/quexsim/examples/plant.json
    ${PROJECT_SOURCE_DIR}/tools/quexsim/examples/demo.json
    DESTINATION ${CMAKE_INSTALL_DATADIR}/quexsim/examples COMPONENT sim EXCLUDE_FROM_ALL)
endif()
