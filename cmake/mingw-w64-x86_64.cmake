# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX thread model, so that
# std::thread and std::mutex exist). Everything is linked statically: Pendock.exe and the test
# programs need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PENDOCK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PENDOCK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PENDOCK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PENDOCK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PENDOCK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Windows 10 interfaces (per-monitor DPI awareness, WIC); Unicode entry points throughout.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)

# Test programs run under Wine, in a prefix inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
