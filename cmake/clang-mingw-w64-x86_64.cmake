# Cross toolchain: 64-bit Windows through Debian's clang on the mingw-w64 headers, with the posix-thread
# libstdc++ of the mingw-w64 gcc and the GNU linker, so both compilers build against one runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FERNQUILL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(FERNQUILL_CLANG NAMES clang-14 clang REQUIRED)
find_program(FERNQUILL_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_C_COMPILER ${FERNQUILL_CLANG})
set(CMAKE_CXX_COMPILER ${FERNQUILL_CLANGXX})
set(CMAKE_C_COMPILER_TARGET ${FERNQUILL_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${FERNQUILL_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${FERNQUILL_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${FERNQUILL_MINGW_PREFIX}-objdump)

# clang does not find the C++ library of the mingw-w64 gcc by itself: its headers are given as system
# folders (so they reach the compile database and clang-tidy too), its archives as a library folder.
file(GLOB FERNQUILL_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${FERNQUILL_MINGW_PREFIX}/*-posix)
list(SORT FERNQUILL_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET FERNQUILL_MINGW_GCC_DIRS 0 FERNQUILL_MINGW_GCC_DIR)
if(NOT EXISTS ${FERNQUILL_MINGW_GCC_DIR}/include/c++)
  message(FATAL_ERROR "no posix-thread mingw-w64 libstdc++ under /usr/lib/gcc/${FERNQUILL_MINGW_PREFIX}")
endif()
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${FERNQUILL_MINGW_GCC_DIR}/include/c++ ${FERNQUILL_MINGW_GCC_DIR}/include/c++/${FERNQUILL_MINGW_PREFIX})
# The mingw-w64 gcc predefines this and its libstdc++ is built with it: type_info's operator== lives in
# the library. Without it clang compiles an inline copy, which then collides with the library's.
set(CMAKE_CXX_FLAGS_INIT "-D__GXX_TYPEINFO_EQUALITY_INLINE=0")
# libstdc++ keeps thread-local state in libgcc's emulated TLS, which needs winpthreads: clang's driver
# puts libgcc_eh after everything given here, so it is named before -lpthread as well.
set(CMAKE_CXX_STANDARD_LIBRARIES "-lstdc++ -lgcc_eh -lpthread")
# Flags stay in the compile database itself, where clang-tidy reads them.
set(CMAKE_C_USE_RESPONSE_FILE_FOR_INCLUDES OFF)
set(CMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES OFF)

set(CMAKE_FIND_ROOT_PATH /usr/${FERNQUILL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the exe must run on a bare Windows without mingw DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -L${FERNQUILL_MINGW_GCC_DIR}")

# gcc pads libstdc++'s type-info, type-name and vtable sections to 16 bytes, clang does not, and the GNU
# linker reports each pair ("duplicate section ... has different size"); the launcher drops those lines.
set(FERNQUILL_LINK_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/filter-link-warnings.sh)

# Compiles go through ccache when the machine has it.
find_program(FERNQUILL_CCACHE ccache)
if(FERNQUILL_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${FERNQUILL_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${FERNQUILL_CCACHE})
endif()
