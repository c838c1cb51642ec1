# GoogleTest from Debian's source package (googletest), built with each
# configuration's own flags: i386 Linux, the same with sanitizers, and
# 32-bit Windows for the Wine suite.
set(GTEST_DIR /usr/src/googletest/googletest)
if(NOT EXISTS ${GTEST_DIR}/src/gtest-all.cc)
  message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_DIR}: run scripts/install-deps.sh")
endif()
add_library(gtest STATIC ${GTEST_DIR}/src/gtest-all.cc)
target_include_directories(gtest SYSTEM PUBLIC ${GTEST_DIR}/include PRIVATE ${GTEST_DIR})
# Its own code is not ours to warn about.
target_compile_options(gtest PRIVATE -w)
if(LUMISAR_CROSS)
  # Debian's mingw-w64 (win32 threads) lacks std::mutex: the one class of
  # gtest's that needs it comes from a Win32 event instead.
  target_compile_options(gtest PUBLIC -include ${CMAKE_SOURCE_DIR}/tests/support/gtest_mingw.h)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(gtest PUBLIC Threads::Threads)
endif()
add_library(gtest_main STATIC ${GTEST_DIR}/src/gtest_main.cc)
target_link_libraries(gtest_main PUBLIC gtest)
# gmock's matchers (ElementsAreArray, Each) print the values a comparison
# found; built only for the tests that use them.
set(GMOCK_DIR /usr/src/googletest/googlemock)
add_library(gmock STATIC EXCLUDE_FROM_ALL ${GMOCK_DIR}/src/gmock-all.cc)
target_include_directories(gmock SYSTEM PUBLIC ${GMOCK_DIR}/include PRIVATE ${GMOCK_DIR})
target_compile_options(gmock PRIVATE -w)
target_link_libraries(gmock PUBLIC gtest)
