# The presets are separate build trees beside each other under build/. A
# tree finds the others' programs here: the host's tests and install take
# updater.exe and fwpack.exe from win64 and the DOS programs from dos16;
# win64 takes the DOS updater from dos16 and fwpack from host; the UEFI
# cases take UPDATE.EFI and the stand-in UEFI tools from uefi.
set(FWPACK_HOST_DIR ${PROJECT_SOURCE_DIR}/build/host CACHE PATH "host build folder")
set(FWPACK_WIN64_DIR ${PROJECT_SOURCE_DIR}/build/win64 CACHE PATH "win64 build folder")
set(FWPACK_DOS16_DIR ${PROJECT_SOURCE_DIR}/build/dos16 CACHE PATH "dos16 build folder")
set(FWPACK_UEFI_DIR ${PROJECT_SOURCE_DIR}/build/uefi CACHE PATH "uefi build folder")

# Where an install puts what: programs in bin/, the updaters that packages
# are built from in share/fwpack/. fwpack finds the latter relative to its
# own folder.
include(GNUInstallDirs)
set(FWPACK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/fwpack)
file(RELATIVE_PATH FWPACK_DATA_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${FWPACK_DATA_DIR})
