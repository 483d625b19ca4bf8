# Real-mode DOS programs for a 386 or later: gcc's -m16 (32-bit code with
# operand- and address-size prefixes), freestanding, linked to an ELF whose
# first bytes are the MZ header (cmake/dos16.ld) and then cut to a flat file.
# The code and data segments both start at offset 0 (their addresses overlap;
# the linker still checks that their places in the file do not).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(FWPACK_DOS16 ON)

execute_process(COMMAND gcc -print-file-name=include
                OUTPUT_VARIABLE _dos16_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
# -march=i386: the default target emits cmov and SSE moves, which a 386 and
# real mode cannot run. libcall string operations: gcc's inline rep movs and
# rep stos use 16-bit SI/DI/CX here. ESI is kept out of gcc's hands: combine
# turns byte-copy loops into a single movsb, which steps only SI and DI
# (a measured 2.6 % larger zlib is the price). No loop-to-memset rewriting,
# so memset itself cannot become a call to memset.
set(_dos16_flags "-m16 -march=i386 -Os -ffreestanding -fno-pic -fno-pie -nostdlib -nostdinc \
-isystem ${_dos16_gcc_include} -fno-asynchronous-unwind-tables -fno-stack-protector \
-fcf-protection=none -ffunction-sections -fdata-sections -mstringop-strategy=libcall \
-ffixed-esi -fno-tree-loop-distribute-patterns")
set(CMAKE_C_FLAGS_INIT "${_dos16_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_dos16_flags} -fno-exceptions -fno-rtti -fno-threadsafe-statics \
-fno-use-cxa-atexit")
set(CMAKE_ASM_FLAGS_INIT "-m16")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m16 -nostdlib -static -no-pie -Wl,--gc-sections \
-Wl,--build-id=none -Wl,--no-warn-rwx-segments -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/dos16.ld")
