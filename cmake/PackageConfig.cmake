# Installs the CMake package that find_package(tarvel) loads: the imported
# executable tarvel::tarvel and the functions tarvel_set_crc and
# tarvel_check_crc.
#
#   <prefix>/lib/cmake/tarvel/tarvelConfig.cmake         loads the two below
#   <prefix>/lib/cmake/tarvel/tarvelConfigVersion.cmake  3.x accepts 3.y, y >= x
#   <prefix>/lib/cmake/tarvel/tarvelTargets*.cmake       tarvel::tarvel
#   <prefix>/lib/cmake/tarvel/TarvelFunctions.cmake      tarvel_set_crc, tarvel_check_crc
#   <prefix>/lib/cmake/tarvel/TarvelRun.cmake            their steps on files named otherwise

include(CMakePackageConfigHelpers)

set(TARVEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvel
    CACHE STRING "Where the CMake package is installed, below the prefix")

install(EXPORT tarvelTargets
        NAMESPACE tarvel::
        DESTINATION ${TARVEL_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/tarvelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tarvelConfig.cmake
  INSTALL_DESTINATION ${TARVEL_INSTALL_CMAKEDIR})

# tarvel runs on the build machine, so a firmware project that cross-compiles
# for a 32-bit controller must accept it too: no pointer-size check.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/tarvelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion
  ARCH_INDEPENDENT)

install(FILES
          ${PROJECT_BINARY_DIR}/tarvelConfig.cmake
          ${PROJECT_BINARY_DIR}/tarvelConfigVersion.cmake
          ${CMAKE_CURRENT_LIST_DIR}/TarvelFunctions.cmake
          ${CMAKE_CURRENT_LIST_DIR}/TarvelRun.cmake
        DESTINATION ${TARVEL_INSTALL_CMAKEDIR})
