# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which is the one that has std::thread and std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows texts are bytes in the ANSI code page (GBK); sources are UTF-8.
# GB18030 gives the same bytes as GBK for every GBK character, and unlike GBK
# it can also encode the micro sign that C++20 <chrono> has in a literal, which
# -fexec-charset=GBK rejects. A test checks that the sources stay within GBK.
set(CMAKE_CXX_FLAGS_INIT "-finput-charset=UTF-8 -fexec-charset=GB18030")
# A static runtime, so the .exe runs alone (under Wine too).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
