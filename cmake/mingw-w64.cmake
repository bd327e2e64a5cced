# Cross build for 64-bit Windows with mingw-w64 (Debian packages mingw-w64),
# tests run under Wine (Debian package wine64) through wine-run.sh.
#
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The POSIX threading flavour of the compilers gives the full C++ thread
# library; every runtime (libgcc, libstdc++, winpthread) is linked
# statically, so the DLLs and programs need nothing beside them but the
# system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUILL_MINGW_PREFIX}-gcc-posix ${QUILL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUILL_MINGW_PREFIX}-g++-posix ${QUILL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILL_MINGW_PREFIX}-windres)
# The compiler names carry a suffix, so name the binutils outright.
find_program(CMAKE_AR NAMES ${QUILL_MINGW_PREFIX}-gcc-ar-posix ${QUILL_MINGW_PREFIX}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${QUILL_MINGW_PREFIX}-gcc-ranlib-posix ${QUILL_MINGW_PREFIX}-ranlib REQUIRED)
find_program(CMAKE_NM NAMES ${QUILL_MINGW_PREFIX}-nm REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${QUILL_MINGW_PREFIX}-objdump REQUIRED)
find_program(CMAKE_STRIP NAMES ${QUILL_MINGW_PREFIX}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime for every executable and DLL.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs built here (tests, GoogleTest discovery) run under Wine.
# Through sh, so that the script needs no execute permission.
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
