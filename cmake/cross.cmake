# Cross build: LUMISAR.DLL, the substitute QUARNE.DLL, the Windows host
# program and the Wine test suite.
set(LUMISAR_PLCSIM "" CACHE FILEPATH "The controller simulator from the native build")

# Everything static but the system DLLs: no libgcc or libstdc++ DLLs.
add_link_options(-static-libgcc -static-libstdc++)
# The same commit builds the same bytes in any folder, on any day: no time
# stamp in the PE headers, no build paths in the binaries.
add_link_options(-Wl,--no-insert-timestamp -s)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# DLLs and programs side by side, where Windows looks for a program's DLLs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Import library for the host's QUARNE.DLL, made from its .def alone.
set(QUARNE_IMPLIB ${CMAKE_BINARY_DIR}/libquarne_import.a)
add_custom_command(OUTPUT ${QUARNE_IMPLIB}
  COMMAND i686-w64-mingw32-dlltool -d ${CMAKE_SOURCE_DIR}/host/quarne.def -l ${QUARNE_IMPLIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/host/quarne.def)
add_custom_target(quarne_import DEPENDS ${QUARNE_IMPLIB})

add_library(LUMISAR SHARED ${DRIVER_SOURCES} entry/dllmain.cpp address/tag_format.rc entry/version.rc
  entry/lumisar.def)
set_target_properties(LUMISAR PROPERTIES PREFIX "" OUTPUT_NAME LUMISAR SUFFIX ".DLL")
target_include_directories(LUMISAR PRIVATE include ${CMAKE_SOURCE_DIR} address)
add_dependencies(LUMISAR quarne_import)
target_link_libraries(LUMISAR PRIVATE ${QUARNE_IMPLIB} user32 kernel32)

add_library(QUARNE SHARED quarnesub/quarne_sub.cpp quarnesub/QUARNE.def)
set_target_properties(QUARNE PROPERTIES PREFIX "" OUTPUT_NAME QUARNE SUFFIX ".DLL")

add_subdirectory(tools)
add_subdirectory(tests)
