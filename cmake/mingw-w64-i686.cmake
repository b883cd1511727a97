# 32-bit Windows build: the shipped layout. Its programs run in the tree that
# cmake/win32-tree makes (32-bit code runs there under emulation).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VRT_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
