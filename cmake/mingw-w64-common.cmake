# Debian ships each mingw-w64 compiler in a -win32 and a -posix thread model.
# We use -posix: std::thread, std::mutex and std::condition_variable need it.
set(CMAKE_C_COMPILER   ${VRT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${VRT_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VRT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every Windows binary runs on a bare machine: libgcc, libstdc++ and
# winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs run through Wine (ctest and scripts alike): the 32-bit
# build through cmake/wine-run32, in the tree where 32-bit code can run.
if(VRT_MINGW_TRIPLET STREQUAL "i686-w64-mingw32")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run32)
  # Under emulation every wait is this many times longer: the same factor
  # as wine-run32's VRT_TIME_SCALE.
  set(VRT_TEST_TIME_SCALE 4)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
endif()
