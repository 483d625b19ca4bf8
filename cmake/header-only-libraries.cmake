# CLI11 and toml++ for the Windows cross-build. Both are used header-only,
# and Debian installs their headers for the host compiler only: the two
# header folders are linked into a folder of their own, so that the MinGW
# compiler sees them without seeing the rest of the host's /usr/include.
find_path(FWPACK_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(FWPACK_TOMLPP_INCLUDE toml++/toml.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_headers ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${_headers})
foreach(pair "CLI;${FWPACK_CLI11_INCLUDE}" "toml++;${FWPACK_TOMLPP_INCLUDE}")
  list(GET pair 0 _name)
  list(GET pair 1 _root)
  if(NOT EXISTS ${_headers}/${_name})
    file(CREATE_LINK ${_root}/${_name} ${_headers}/${_name} SYMBOLIC)
  endif()
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE ${_headers})
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
target_include_directories(tomlplusplus::tomlplusplus INTERFACE ${_headers})
# The host package is a compiled library; here the parser is compiled in.
target_compile_definitions(tomlplusplus::tomlplusplus INTERFACE TOML_HEADER_ONLY=1)
