# Installs the libraries with their headers, the command-line agent, a CMake package
# (find_package(twicenat CONFIG): targets twicenat::runtime, ::platform, ::chip, ::agent and
# ::BfTwiceNatAddrOnly), a pkg-config file and the agent's bash completion.
include(CMakePackageConfigHelpers)

set(TWICENAT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/twicenat)

# Installed names match the ALIAS names users link against.
set_target_properties(zinrt PROPERTIES EXPORT_NAME runtime)
set_target_properties(twicenat_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(twicenat_sdk PROPERTIES EXPORT_NAME chip)
set_target_properties(twicenat_agent PROPERTIES EXPORT_NAME agent)

install(TARGETS zinrt twicenat_platform twicenat_sdk twicenat_agent BfTwiceNatAddrOnly
        EXPORT twicenatTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS twicenat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT twicenatTargets NAMESPACE twicenat:: DESTINATION ${TWICENAT_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/twicenatConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/twicenatConfig.cmake
                              INSTALL_DESTINATION ${TWICENAT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/twicenatConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/twicenatConfig.cmake
              ${PROJECT_BINARY_DIR}/twicenatConfigVersion.cmake
        DESTINATION ${TWICENAT_CMAKE_DIR})

file(RELATIVE_PATH TWICENAT_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/twicenat.pc.in ${PROJECT_BINARY_DIR}/twicenat.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/twicenat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/completions/twicenat.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME twicenat)
