# UEFI applications for x86_64: MinGW-w64's compiler makes PE32+ code with
# the Microsoft calling convention, which is UEFI's; freestanding, no C or
# C++ library (platform/uefi is the runtime), linked as an EFI application
# (subsystem 10) with base relocations, since the firmware loads an image
# wherever it finds room.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(FWPACK_UEFI ON)

# The C headers are the compiler's (MinGW's <stddef.h> is a wrapper around
# its C library's, which holds only types); the C++ ones are ours
# (platform/freestanding, ahead of the compiler's in the include order).
# No red zone: firmware interrupt handlers run on the application's stack.
# No stack probes: there is no ___chkstk_ms without a C library, and the
# firmware's stack is committed memory. No unwind tables: nothing unwinds.
# No loop-to-memset rewriting, so memset itself cannot become a call to
# memset.
set(_uefi_flags "-ffreestanding -nostdlib -mno-red-zone \
-mno-stack-arg-probe -fno-asynchronous-unwind-tables -fno-stack-protector -fshort-wchar \
-ffunction-sections -fdata-sections -fno-tree-loop-distribute-patterns")
set(CMAKE_C_FLAGS_INIT "${_uefi_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_uefi_flags} -fno-exceptions -fno-rtti -fno-threadsafe-statics")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostdlib -Wl,--subsystem,10 -Wl,--entry,efi_main \
-Wl,--dynamicbase -Wl,--gc-sections -Wl,--build-id=none -s")

