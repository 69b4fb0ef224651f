# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Builds what is plain C++ (lamp, sequence, the device layer, the virtual lamp
# DLL and tintrava-play.exe); the windows need Qt for Windows and are skipped.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TINTRAVA_MINGW_PREFIX x86_64-w64-mingw32)
# The posix flavour: std::thread and std::mutex, which the virtual lamp uses.
find_program(CMAKE_C_COMPILER NAMES ${TINTRAVA_MINGW_PREFIX}-gcc-posix ${TINTRAVA_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TINTRAVA_MINGW_PREFIX}-g++-posix ${TINTRAVA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TINTRAVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TINTRAVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must not hand the build machine's Linux libraries to a Windows build.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${TINTRAVA_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The C++ and thread runtimes linked in: the .exe and the .dll run on a plain
# Windows (or Wine) without MinGW's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
