# How every folder makes its targets: twicenat_library() and twicenat_executable() give each
# target the project's warnings and sanitizers (build tree only), the C++20 requirement, its
# headers, its alias twicenat::NAME, and its place in the install and the exported package.
include(GNUInstallDirs)

# The project's own build flags, as targets its targets link privately, so that neither a parent
# project that adds this one with add_subdirectory() nor a user of the installed package sees
# them.
add_library(twicenat_warnings INTERFACE)
target_compile_options(twicenat_warnings INTERFACE -Wall -Wextra
                                                   $<$<BOOL:${TWICENAT_WERROR}>:-Werror>)
# Our shared libraries call their own functions directly, not through the PLT: nothing is meant
# to interpose a symbol of ours. (Within a file Clang does so already; across files the linker
# binds them.)
add_library(twicenat_codegen INTERFACE)
target_compile_options(twicenat_codegen
                       INTERFACE $<$<CXX_COMPILER_ID:GNU>:-fno-semantic-interposition>)
target_link_options(
  twicenat_codegen INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY>:LINKER:-Bsymbolic-functions>)
add_library(twicenat_sanitizers INTERFACE)
if(TWICENAT_SANITIZE)
  target_compile_options(twicenat_sanitizers INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(twicenat_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# Shared libraries carry the ABI version in their SONAME. Before 1.0 a minor release may change
# it, as the CMake package's version file (SameMinorVersion) says.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(TWICENAT_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
else()
  set(TWICENAT_SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

# Installed programs find the installed libraries relative to themselves, so an install can be
# made with --prefix or moved; none is needed where the system looks anyway.
file(RELATIVE_PATH TWICENAT_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  set(TWICENAT_SYSTEM_LIBDIR ON)
else()
  set(TWICENAT_SYSTEM_LIBDIR OFF)
endif()

# Gives `target` its own include folder in the build tree, holding links to exactly the headers
# it names (paths relative to BASE, as includers spell them), and installs those headers at the
# same paths (unless NO_INSTALL). So a target's users see its headers and no other folder of
# the source tree.
#
#   twicenat_headers(<target> [NO_INSTALL] BASE <folder> HEADERS <relative path>...)
function(twicenat_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_INSTALL" "BASE" "HEADERS")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  set(install ON)
  if(arg_NO_INSTALL OR NOT TWICENAT_INSTALL)
    set(install OFF)
  endif()
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(header ${arg_HEADERS})
    get_filename_component(folder ${header} DIRECTORY)
    file(MAKE_DIRECTORY ${root}/${folder})
    file(CREATE_LINK ${arg_BASE}/${header} ${root}/${header} SYMBOLIC)
    if(install)
      install(FILES ${arg_BASE}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder}
              COMPONENT development)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
  if(NOT arg_NO_INSTALL)
    target_include_directories(${target} ${scope}
                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endif()
endfunction()

# The project's build flags for one target of its own.
function(twicenat_build_flags target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_WARNINGS" "" "")
  if(NOT arg_NO_WARNINGS)
    target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:twicenat_warnings>)
  endif()
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:twicenat_sanitizers>
                                           $<BUILD_INTERFACE:twicenat_codegen>)
endfunction()

# A library of the project, reached as twicenat::<export name>.
#
#   twicenat_library(<name> SHARED|STATIC|INTERFACE
#     [EXPORT_NAME <name>]  alias and installed name twicenat::<name>; default: <name> without
#                           a leading "twicenat_"
#     [NO_INSTALL]          a build-tree library (test machinery, the command line's pieces)
#     [GENERATED]           generated code: built without the project's warnings, and its
#                           INCLUDES are system folders, so includers are not held to them either
#     [SOURCES <file>...]
#     [HEADERS <path>...] [BASE <folder>]  its public headers, as includers spell them, relative
#                           to BASE (default: the project's source folder); installed with it
#     [INCLUDES <folder>...] further build-tree include folders, e.g. of generated headers
#     [PUBLIC <dep>...] [PRIVATE <dep>...] [INTERFACE <dep>...])
#
# For example, a library of generated protobuf code, which includes its generated headers:
#   twicenat_library(twicenat_p4rt_proto STATIC NO_INSTALL GENERATED SOURCES ${generated}
#                    INCLUDES ${out} PUBLIC protobuf::libprotobuf gRPC::grpc++)
#
# A shared library gets the project's version and SONAME and resolves every symbol when it is
# linked, so that a missing definition fails the build, not the program that loads it. (Not
# under the sanitizers: their runtime comes with the executable.) Every library requires C++20
# of its users, who include its headers.
function(twicenat_library name type)
  cmake_parse_arguments(PARSE_ARGV 2 arg "NO_INSTALL;GENERATED" "EXPORT_NAME;BASE"
                        "SOURCES;HEADERS;INCLUDES;PUBLIC;PRIVATE;INTERFACE")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "twicenat_library(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_EXPORT_NAME)
    string(REGEX REPLACE "^twicenat_" "" arg_EXPORT_NAME ${name})
  endif()
  if(NOT arg_BASE)
    set(arg_BASE ${PROJECT_SOURCE_DIR})
  endif()

  add_library(${name} ${type} ${arg_SOURCES})
  add_library(twicenat::${arg_EXPORT_NAME} ALIAS ${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${arg_EXPORT_NAME})
  if(type STREQUAL "INTERFACE")
    set(usage INTERFACE)
  else()
    set(usage PUBLIC)
    if(arg_GENERATED)
      twicenat_build_flags(${name} NO_WARNINGS)
    else()
      twicenat_build_flags(${name})
    endif()
  endif()
  target_compile_features(${name} ${usage} cxx_std_20)
  if(type STREQUAL "SHARED")
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION}
                                             SOVERSION ${TWICENAT_SOVERSION})
    if(NOT TWICENAT_SYSTEM_LIBDIR)
      set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endif()
    if(NOT TWICENAT_SANITIZE)
      target_link_options(${name} PRIVATE LINKER:--no-undefined)
    endif()
  endif()

  set(no_install)
  if(arg_NO_INSTALL)
    set(no_install NO_INSTALL)
  endif()
  if(arg_HEADERS)
    twicenat_headers(${name} ${no_install} BASE ${arg_BASE} HEADERS ${arg_HEADERS})
  endif()
  foreach(folder ${arg_INCLUDES})
    if(arg_GENERATED)
      target_include_directories(${name} SYSTEM ${usage} $<BUILD_INTERFACE:${folder}>)
    else()
      target_include_directories(${name} ${usage} $<BUILD_INTERFACE:${folder}>)
    endif()
  endforeach()
  target_link_libraries(${name} PUBLIC ${arg_PUBLIC} PRIVATE ${arg_PRIVATE}
                                INTERFACE ${arg_INTERFACE})

  if(TWICENAT_INSTALL AND NOT arg_NO_INSTALL)
    install(TARGETS ${name} EXPORT twicenatTargets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                    NAMELINK_COMPONENT development
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  endif()
endfunction()

# A program of the project (the agent, a test, a benchmark, a fuzzer).
#
#   twicenat_executable(<name> [INSTALL] SOURCES <file>... [DEPS <target>...])
function(twicenat_executable name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "INSTALL" "" "SOURCES;DEPS")
  add_executable(${name} ${arg_SOURCES})
  twicenat_build_flags(${name})
  target_link_libraries(${name} PRIVATE ${arg_DEPS})
  if(arg_INSTALL AND TWICENAT_INSTALL)
    if(NOT TWICENAT_SYSTEM_LIBDIR)
      set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/${TWICENAT_BIN_TO_LIB}")
    endif()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endfunction()
