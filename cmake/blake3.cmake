# SPDX-License-Identifier: Apache-2.0
# BLAKE3's reference C implementation, built from the sources Debian ships in
# librust-blake3-dev, with the x86-64 assembly kernels; the dispatcher picks the
# fastest one the CPU offers at run time.
file(GLOB TUVEL_BLAKE3_DIRS LIST_DIRECTORIES true /usr/share/cargo/registry/blake3-*/c)
list(SORT TUVEL_BLAKE3_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET TUVEL_BLAKE3_DIRS 0 BLAKE3_C_DIR)
if(NOT EXISTS ${BLAKE3_C_DIR}/blake3.h)
  message(FATAL_ERROR "BLAKE3 C sources not found; run scripts/setup (package librust-blake3-dev)")
endif()

add_library(blake3 STATIC
  ${BLAKE3_C_DIR}/blake3.c
  ${BLAKE3_C_DIR}/blake3_dispatch.c
  ${BLAKE3_C_DIR}/blake3_portable.c
  ${BLAKE3_C_DIR}/blake3_sse2_x86-64_unix.S
  ${BLAKE3_C_DIR}/blake3_sse41_x86-64_unix.S
  ${BLAKE3_C_DIR}/blake3_avx2_x86-64_unix.S
  ${BLAKE3_C_DIR}/blake3_avx512_x86-64_unix.S)
target_include_directories(blake3 SYSTEM PUBLIC ${BLAKE3_C_DIR})
set_target_properties(blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON C_STANDARD 99)
