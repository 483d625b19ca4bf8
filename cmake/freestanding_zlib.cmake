# zlib for the freestanding builds (dos16, uefi), from Debian's source
# package (scripts/setup.sh unpacks it under build/): inflate and the
# checksums only, without zlib's own allocator, and without gzip streams
# (NO_GZIP), which no updater reads: that keeps the CRC table (1 KiB) out of
# the DOS data segment.
file(GLOB _zlib_dirs ${PROJECT_SOURCE_DIR}/build/zlib-src/zlib-*)
list(FILTER _zlib_dirs EXCLUDE REGEX "\\.(tar|dsc)")
set(_zlib_found "")
if(_zlib_dirs)
  list(GET _zlib_dirs 0 _zlib_found)
endif()
set(FWPACK_FREESTANDING_ZLIB_DIR "${_zlib_found}" CACHE PATH "zlib source tree for the freestanding builds")
# A path cached before scripts/setup.sh fetched the sources (empty), or one
# that no longer holds them, gives way to the sources found now; a path
# that holds sources stays, whoever chose it.
if(NOT EXISTS "${FWPACK_FREESTANDING_ZLIB_DIR}/inflate.c" AND EXISTS "${_zlib_found}/inflate.c")
  set_property(CACHE FWPACK_FREESTANDING_ZLIB_DIR PROPERTY VALUE "${_zlib_found}")
endif()
if(NOT EXISTS "${FWPACK_FREESTANDING_ZLIB_DIR}/inflate.c")
  message(FATAL_ERROR "no zlib sources for the freestanding build under build/zlib-src: run scripts/setup.sh")
endif()

# fwpack_freestanding_zlib(<target>): the static library for this build.
function(fwpack_freestanding_zlib target)
  add_library(${target} STATIC)
  foreach(f inflate.c inffast.c inftrees.c adler32.c crc32.c zutil.c)
    target_sources(${target} PRIVATE ${FWPACK_FREESTANDING_ZLIB_DIR}/${f})
  endforeach()
  target_compile_definitions(${target} PUBLIC Z_SOLO PRIVATE NO_GZIP)
  target_compile_options(${target} PRIVATE -w)
  target_include_directories(${target} SYSTEM PUBLIC ${FWPACK_FREESTANDING_ZLIB_DIR})
endfunction()
