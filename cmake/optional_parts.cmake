# Finds what the tests, the benchmarks and the API reference need. A part
# asked for whose tools are missing is left out of this configuration, and one
# message says which and why: the library itself needs only a compiler and
# CMake. The cache keeps the option as it was, so installing the tools and
# configuring again brings the part back.
set(SONVALE_LEFT_OUT "")

if(SONVALE_TESTS)
  set(missing "")
  find_package(GTest QUIET)
  # A cross build finds no GoogleTest for its target: it is built from
  # Debian's source package (googletest).
  if(NOT TARGET GTest::gtest_main AND CMAKE_CROSSCOMPILING
     AND EXISTS /usr/src/googletest/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  if(NOT TARGET GTest::gtest_main)
    list(APPEND missing "GoogleTest (libgtest-dev; googletest to cross-build)")
  endif()
  # Recordings are read back with libsndfile, a reader independent of the
  # library; on Windows the tests check the files' layout themselves.
  if(NOT WIN32)
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(SNDFILE QUIET IMPORTED_TARGET sndfile)
    endif()
    if(NOT TARGET PkgConfig::SNDFILE)
      list(APPEND missing "libsndfile (libsndfile1-dev)")
    endif()
  endif()
  if(missing)
    list(JOIN missing " and " missing)
    list(APPEND SONVALE_LEFT_OUT "the tests, for want of ${missing}")
    set(SONVALE_TESTS OFF)
  else()
    # The sox programs read the recorder's files back too, where installed.
    find_program(SONVALE_SOX sox)
    find_program(SONVALE_SOXI soxi)
    if(NOT (SONVALE_SOX AND SONVALE_SOXI))
      list(APPEND SONVALE_LEFT_OUT "the sox read-back tests, for want of sox (sox)")
    endif()
  endif()
endif()

if(SONVALE_BENCH)
  find_package(benchmark QUIET)
  if(NOT TARGET benchmark::benchmark)
    list(APPEND SONVALE_LEFT_OUT "the benchmarks, for want of Google Benchmark (libbenchmark-dev)")
    set(SONVALE_BENCH OFF)
  endif()
endif()

if(SONVALE_DOCS)
  find_package(Doxygen QUIET)
  if(NOT DOXYGEN_FOUND)
    list(APPEND SONVALE_LEFT_OUT "the API reference, for want of Doxygen (doxygen)")
    set(SONVALE_DOCS OFF)
  endif()
endif()

if(SONVALE_LEFT_OUT)
  list(JOIN SONVALE_LEFT_OUT "; " SONVALE_LEFT_OUT)
  message(NOTICE "Sonvale: building without ${SONVALE_LEFT_OUT}")
endif()
