# Builds for aarch64 (arm64) on an x86-64 Debian machine with Debian's cross
# compiler, against the arm64 libraries that multiarch installs beside the
# machine's own (scripts/install-cross-deps): headers from /usr/include and
# /usr/include/aarch64-linux-gnu, libraries from /usr/lib/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Programs built here are run through qemu-user.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
