# OpenSSL's libcrypto for fwpack.exe: the static library that
# scripts/mingw_libcrypto.sh builds from Debian's openssl source package
# (Debian has no MinGW build of it). Defines OpenSSL::Crypto when it is
# there; without it fwpack.exe is built without signing.
set(FWPACK_MINGW_LIBCRYPTO ${PROJECT_SOURCE_DIR}/build/mingw-libcrypto/current
    CACHE PATH "folder with lib/libcrypto.a and include/openssl for MinGW")
if(EXISTS ${FWPACK_MINGW_LIBCRYPTO}/lib/libcrypto.a)
  add_library(OpenSSL::Crypto STATIC IMPORTED GLOBAL)
  set_target_properties(OpenSSL::Crypto PROPERTIES
    IMPORTED_LOCATION ${FWPACK_MINGW_LIBCRYPTO}/lib/libcrypto.a
    INTERFACE_INCLUDE_DIRECTORIES ${FWPACK_MINGW_LIBCRYPTO}/include
    # What libcrypto itself calls on Windows: sockets (time-stamp requests),
    # the system's random source and certificate store, the console.
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;advapi32;user32;bcrypt")
else()
  message(WARNING "no ${FWPACK_MINGW_LIBCRYPTO}/lib/libcrypto.a (run scripts/setup.sh): "
                  "fwpack.exe is built without signing")
endif()
