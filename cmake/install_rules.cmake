# Installing (and cpack) takes what has been built and builds nothing first:
# scripts/release.sh builds the presets itself, and the tests and benchmarks
# are not part of an install.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# What `cmake --install` of the host build puts where. The other presets'
# programs are installed when their files exist at install time
# (OPTIONAL), so the host tree installs whatever has been built beside it.
install(TARGETS fwpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS dosupdater RUNTIME DESTINATION ${FWPACK_DATA_DIR})
install(FILES ${FWPACK_WIN64_DIR}/updater.exe ${FWPACK_DOS16_DIR}/app/dosupd/DOSUPD.EXE
        DESTINATION ${FWPACK_DATA_DIR} OPTIONAL)
install(FILES ${FWPACK_UEFI_DIR}/app/efiupd/UPDATE.EFI DESTINATION ${FWPACK_DATA_DIR} OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/app/fwpack/fwpack.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/app/fwpack/fwpack.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME fwpack)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package (scripts/release.sh runs cpack): the libraries' packages
# come from dpkg-shlibdeps.
set(FWPACK_PACKAGE_CONTACT "fwpack developers <fwpack@example.invalid>" CACHE STRING
    "the Debian package's maintainer")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwpack)
set(CPACK_PACKAGE_CONTACT "${FWPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds, inspects and runs firmware-update packages")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "fwpack builds self-contained firmware-update packages (a Windows program and a DOS "
       "updater with the flash tools, BIOS and ME images inside) and inspects, verifies and "
       "extracts them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Windows packages it builds run here under Wine.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine64")
include(CPack)
