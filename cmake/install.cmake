# Installation: library, both headers and the tool in the GNUInstallDirs layout, a CMake package
# giving the imported target vornaplex::xml, and a pkg-config file.
include(CMakePackageConfigHelpers)

set(VX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vornaplex_xml)

# Consumers link vornaplex::xml; inside this build the alias of the same name serves.
set_target_properties(vornaplex_xml PROPERTIES EXPORT_NAME xml)

install(TARGETS vornaplex_xml EXPORT vornaplex_xmlTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                COMPONENT runtime NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/vornaplex_xml.h
              ${PROJECT_SOURCE_DIR}/include/vornaplex_xml.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(TARGET vxml)
  install(TARGETS vxml RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

install(EXPORT vornaplex_xmlTargets NAMESPACE vornaplex:: FILE vornaplex_xmlTargets.cmake
        DESTINATION ${VX_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vornaplex_xmlConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/vornaplex_xmlConfig.cmake
                              INSTALL_DESTINATION ${VX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vornaplex_xmlConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vornaplex_xmlConfig.cmake
              ${PROJECT_BINARY_DIR}/vornaplex_xmlConfigVersion.cmake
        DESTINATION ${VX_CMAKE_PACKAGE_DIR} COMPONENT development)

# The .pc file finds its prefix from its own place, so the install tree can be moved.
file(RELATIVE_PATH VX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VX_PC_TO_PREFIX "${VX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vornaplex_xml.pc.in
               ${PROJECT_BINARY_DIR}/vornaplex_xml.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vornaplex_xml.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
