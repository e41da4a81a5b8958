include(GNUInstallDirs)

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
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  foreach(header ${arg_HEADERS})
    get_filename_component(folder ${header} DIRECTORY)
    file(MAKE_DIRECTORY ${root}/${folder})
    file(CREATE_LINK ${arg_BASE}/${header} ${root}/${header} SYMBOLIC)
    if(NOT arg_NO_INSTALL)
      install(FILES ${arg_BASE}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder})
    endif()
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
  if(NOT arg_NO_INSTALL)
    target_include_directories(${target} ${scope}
                               $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endif()
endfunction()

# Prefixes every entry of the list `var` with `folder`/.
function(twicenat_prefix var folder)
  list(TRANSFORM ${var} PREPEND ${folder}/)
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

# The project's own shared libraries resolve every symbol when they are linked, so that a
# missing definition fails the build, not the program that loads them. (Not under the
# sanitizers: their runtime comes with the executable.) The table library is the exception,
# stated where it is made.
function(twicenat_fully_linked target)
  if(NOT TWICENAT_SANITIZE)
    target_link_options(${target} PRIVATE LINKER:--no-undefined)
  endif()
endfunction()
