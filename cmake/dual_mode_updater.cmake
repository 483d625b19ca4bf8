# updater.exe carries the DOS updater as its DOS stub, so that every package
# built from it is dual-mode. A plain win64 build does that by itself when
# the dos16 build's DOSUPD.EXE and the host build's fwpack (which puts it
# there) exist; without them it says so, as every package it makes would
# then fail on DOS. FWPACK_DOS_STUB_PROGRAM set in the cache wins; OFF
# keeps the linker's stub without a word.
if(NOT DEFINED CACHE{FWPACK_DOS_STUB_PROGRAM} OR "$CACHE{FWPACK_DOS_STUB_PROGRAM}" STREQUAL "")
  set(_dos_updater ${FWPACK_DOS16_DIR}/app/dosupd/DOSUPD.EXE)
  set(_host_fwpack ${FWPACK_HOST_DIR}/fwpack)
  if(EXISTS ${_dos_updater} AND EXISTS ${_host_fwpack})
    # Plain variables: app/updater's cache defaults leave them as they are.
    set(FWPACK_DOS_STUB_PROGRAM ${_dos_updater})
    set(FWPACK_HOST_FWPACK ${_host_fwpack})
    message(STATUS "updater.exe is dual-mode: ${_dos_updater} goes in front of it")
  else()
    message(WARNING "updater.exe keeps the linker's DOS stub, so packages built from it do not "
                    "run on DOS: no ${_dos_updater} or no ${_host_fwpack}. Build the dos16 and "
                    "host presets, then configure win64 again (cmake --preset win64).")
  endif()
endif()
