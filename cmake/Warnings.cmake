# Common compile settings for every target of the project.
add_compile_options(-Wall -Wextra)

# Log rows and exception sites name source files relative to the tree.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=")

if(VELOX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELOX_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # Coverage for everything; the fuzzer's main is linked into the targets only.
  add_compile_options(-fsanitize=fuzzer-no-link)
  set(VELOX_SANITIZE ON)
endif()

if(VELOX_SANITIZE)
  set(VELOX_SANITIZER_FLAGS
      -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  add_compile_options(${VELOX_SANITIZER_FLAGS})
  add_link_options(${VELOX_SANITIZER_FLAGS})
endif()

# Environment for every test and headless run: no display, no sound card,
# nothing written outside the build tree, nothing waits for a person.
# GCC 12's sanitizer runtime takes some dynamic TLS blocks for pre-2.25 glibc
# ones and reads a bogus range before them; the leak checker's tracer then
# crashes at exit after a passing run. Not intercepting __tls_get_addr avoids
# that cause; tests run through a guard (tests/sanitizer/guard.sh) that deals
# with any other tracer crash without hiding a failure or a leak report. Runs
# it makes without the leak check are listed in VELOX_SANITIZER_GUARD_LOG,
# which CI summarises (tests/sanitizer/summary.sh).
set(VELOX_SANITIZER_ENVIRONMENT)
set(VELOX_TEST_LAUNCHER)
if(VELOX_SANITIZE)
  set(VELOX_SANITIZER_ENVIRONMENT
      "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0:intercept_tls_get_addr=0")
  set(VELOX_SANITIZER_GUARD_LOG ${CMAKE_BINARY_DIR}/sanitizer-guard.log)
  set(VELOX_TEST_LAUNCHER ${CMAKE_SOURCE_DIR}/tests/sanitizer/guard.sh --log=${VELOX_SANITIZER_GUARD_LOG})
endif()
set(VELOX_TEST_ENVIRONMENT
    SDL_VIDEODRIVER=offscreen
    SDL_AUDIODRIVER=dummy
    MESA_SHADER_CACHE_DISABLE=true
    VELOX_NONINTERACTIVE=1
    ${VELOX_SANITIZER_ENVIRONMENT})
