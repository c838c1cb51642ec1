# Native Linux i386 build: the driver as a static library over the Win32
# substitute and the substitute host library; unit tests, tools, fuzzing.
add_library(winsub STATIC winsub/comm.cpp winsub/window.cpp)
target_include_directories(winsub PUBLIC winsub/include)

add_library(quarnesub STATIC quarnesub/quarne_sub.cpp)
target_include_directories(quarnesub PUBLIC quarnesub)

add_library(lumisar_driver STATIC ${DRIVER_SOURCES})
target_include_directories(lumisar_driver PUBLIC include ${CMAKE_SOURCE_DIR})
target_link_libraries(lumisar_driver PUBLIC winsub quarnesub)

add_subdirectory(tools)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt)
  add_subdirectory(fuzz)
endif()
