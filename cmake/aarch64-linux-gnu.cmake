# Cross build for 64-bit Arm Linux with the Debian cross toolchain
# (g++-aarch64-linux-gnu); tests run under qemu-user (qemu-user):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DHITTAB_TARGET_LIBRARIES=DIR
# DIR holds the target's ISA-L, libzstd, libbz2 and liblzma, which the cross
# toolchain lacks: Debian's arm64 packages (libisal2 libisal-dev libzstd1
# libzstd-dev libbz2-1.0 libbz2-dev liblzma5 liblzma-dev) unpacked there with
# dpkg-deb -x, their absolute links made to point inside DIR. .ci/run shows how.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries, headers and CMake packages come from the target's tree only, so
# that host (x86-64) builds of GoogleTest or Google Benchmark are never
# linked; programs (tools run during the build) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${HITTAB_TARGET_LIBRARIES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and gtest_discover_tests run the target's programs through this;
# -L points the emulator at the target's dynamic loader and libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
if(HITTAB_TARGET_LIBRARIES)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR
       -E LD_LIBRARY_PATH=${HITTAB_TARGET_LIBRARIES}/usr/lib/aarch64-linux-gnu:${HITTAB_TARGET_LIBRARIES}/lib/aarch64-linux-gnu)
endif()
