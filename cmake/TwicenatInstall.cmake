# The installed package: the libraries with their headers and the command-line agent (each
# installed by the helper that makes it; the agent's completion and man page where they are
# made), a CMake package (find_package(twicenat CONFIG): targets twicenat::runtime, ::platform,
# ::pdintf, ::BfTwiceNatAddrOnly, ::agent and ::chip) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(TWICENAT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/twicenat)

install(EXPORT twicenatTargets NAMESPACE twicenat:: DESTINATION ${TWICENAT_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/twicenatConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/twicenatConfig.cmake
                              INSTALL_DESTINATION ${TWICENAT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/twicenatConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/twicenatConfig.cmake
              ${PROJECT_BINARY_DIR}/twicenatConfigVersion.cmake
        DESTINATION ${TWICENAT_CMAKE_DIR} COMPONENT development)

# The pkg-config file finds the prefix relative to itself, so that the install can be moved or
# made with --prefix. The SDK library is named by the file its SONAME gives, which a runtime
# install has without the development links.
file(RELATIVE_PATH TWICENAT_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH TWICENAT_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH TWICENAT_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX}
     ${CMAKE_INSTALL_FULL_INCLUDEDIR})
set(TWICENAT_SDK_SONAME
    ${CMAKE_SHARED_LIBRARY_PREFIX}twicenat_sdk${CMAKE_SHARED_LIBRARY_SUFFIX}.${TWICENAT_SOVERSION})
configure_file(${PROJECT_SOURCE_DIR}/cmake/twicenat.pc.in ${PROJECT_BINARY_DIR}/twicenat.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/twicenat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
