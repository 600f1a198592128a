# What `cmake --install` puts in place: the library and its public header,
# the CMake package (grellanConfig.cmake, its version file and the exported
# target grellan::grellan), grellan.pc, the LICENSE and the man pages, which
# are generated at build time from their scdoc sources in docs/man/.
include(CMakePackageConfigHelpers)

# The header travels with the library's target: its include directory is the
# generated one in the build tree and the installed one in the package.
target_sources(grellan PUBLIC FILE_SET HEADERS
  BASE_DIRS ${PROJECT_BINARY_DIR}/include
  FILES ${PROJECT_BINARY_DIR}/include/grellan/grellan.h)

# The library sits beside grellanprobe, which loads it from its own directory.
set(GRELLAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/grellan)
install(TARGETS grellan EXPORT grellanTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  FILE_SET HEADERS)
install(EXPORT grellanTargets NAMESPACE grellan:: DESTINATION ${GRELLAN_CMAKE_DIR})

configure_package_config_file(cmake/grellanConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/grellanConfig.cmake
  INSTALL_DESTINATION ${GRELLAN_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
# 0.x: a new minor version may change what hosts see.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/grellanConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/grellanConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/grellanConfigVersion.cmake
  DESTINATION ${GRELLAN_CMAKE_DIR})

# The library's file name for grellan.pc, known at configure time from the
# target's properties.
get_target_property(grellan_prefix grellan PREFIX)
get_target_property(grellan_name grellan OUTPUT_NAME)
get_target_property(grellan_suffix grellan SUFFIX)
set(GRELLAN_LIBRARY_FILE "${grellan_prefix}${grellan_name}${grellan_suffix}")

# The .pc file finds its prefix from its own place, so it holds for any
# --prefix given at install time.
file(RELATIVE_PATH GRELLAN_PC_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" GRELLAN_PC_PREFIX "${GRELLAN_PC_PREFIX}")
configure_file(cmake/grellan.pc.in ${CMAKE_CURRENT_BINARY_DIR}/grellan.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/grellan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/grellan)

option(GRELLAN_BUILD_MANPAGES "Generate the man pages with scdoc" ON)
if(GRELLAN_BUILD_MANPAGES)
  find_program(SCDOC_EXECUTABLE scdoc)
  if(NOT SCDOC_EXECUTABLE)
    message(WARNING "scdoc not found (./scripts/setup.sh installs it): no man pages")
  endif()
endif()
set(GRELLAN_MANPAGES "")
if(GRELLAN_BUILD_MANPAGES AND SCDOC_EXECUTABLE)
  set(pages grellanprobe)
  if(GRELLAN_BUILD_INSPECT)
    list(APPEND pages grellaninspect)
  endif()
  foreach(page IN LISTS pages)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${SCDOC_EXECUTABLE}' < '${source}' > '${output}'"
      DEPENDS ${source}
      COMMENT "Generating man page ${page}(1)"
      VERBATIM)
    list(APPEND GRELLAN_MANPAGES ${output})
  endforeach()
  add_custom_target(grellan_manpages ALL DEPENDS ${GRELLAN_MANPAGES})
  install(FILES ${GRELLAN_MANPAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
