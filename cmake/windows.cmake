# 32-bit Windows build: hwtk3.dll with decorated, caller-cleans exports,
# the stand-in DLLs built from the virtual notebook, and the programs the
# Wine tests run. Everything lands in one folder, as it would be shipped.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

# hwtk3.dll shares the C++ runtime DLLs with its host (std::string crosses
# the boundary), so it links libstdc++ and libgcc dynamically.
add_library(hwtk3 SHARED ${HWTK3_SOURCES})
set_target_properties(hwtk3 PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
target_include_directories(hwtk3 PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(hwtk3 PRIVATE HWTK3_BUILDING_DLL)
target_compile_options(hwtk3 PRIVATE ${HWTK3_WARNINGS})
# The battery class devices are found through the Setup API.
target_link_libraries(hwtk3 PRIVATE setupapi)

# Stand-ins: self-contained, on real time, scenarios from the environment.
function(hwtk3_standin target output)
  add_library(${target} SHARED ${HWTK3_SIM_SOURCES} ${ARGN})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE HWTK3_SIM_STANDALONE)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "lib" OUTPUT_NAME ${output})
  target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++)
endfunction()

# WINAPI entry points exported under their plain names.
hwtk3_standin(winring0_standin WinRing0 sim/standin/winring0_standin.cpp)
target_link_options(winring0_standin PRIVATE -Wl,--kill-at)
# C++ class members under their decorated names; hwtk3.dll imports them at
# load time.
hwtk3_standin(vqmitf_standin VQMITF sim/standin/vqmitf_standin.cpp)
target_compile_definitions(vqmitf_standin PRIVATE HWTK3_BUILDING_VQMITF)
target_link_libraries(hwtk3 PRIVATE vqmitf_standin)

# Copy the MinGW C++ runtime beside the programs.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
  OUTPUT_VARIABLE HWTK3_LIBSTDCXX_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_dw2-1.dll
  OUTPUT_VARIABLE HWTK3_LIBGCC_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
set(HWTK3_RUNTIME_DLLS ${HWTK3_LIBSTDCXX_DLL} ${HWTK3_LIBGCC_DLL} CACHE INTERNAL "")
file(COPY ${HWTK3_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR}/bin)

# Programs run under Wine by scripts/wine-tests, one per source file.
file(GLOB HWTK3_WINE_TESTS CONFIGURE_DEPENDS tests/wine/*.cpp)
foreach(source ${HWTK3_WINE_TESTS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE hwtk3)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endforeach()

# The device programs put the virtual notebook's ACPI control driver and
# battery devices behind hwtk3.dll's own imports, so they carry the models.
add_library(hwtk3sim_win32 STATIC ${HWTK3_SIM_SOURCES})
target_include_directories(hwtk3sim_win32 PUBLIC ${PROJECT_SOURCE_DIR})
file(GLOB HWTK3_WINE_DEVICE_TESTS CONFIGURE_DEPENDS tests/wine/wine_devices*.cpp)
foreach(source ${HWTK3_WINE_DEVICE_TESTS})
  get_filename_component(name ${source} NAME_WE)
  target_link_libraries(${name} PRIVATE hwtk3sim_win32)
  target_compile_options(${name} PRIVATE ${HWTK3_WARNINGS})
endforeach()

# hwtk3-diag.exe: the factory test against hwtk3.dll, as a host links it.
file(GLOB HWTK3_TOOL_SOURCES CONFIGURE_DEPENDS tools/*.cpp)
list(FILTER HWTK3_TOOL_SOURCES EXCLUDE REGEX "_linux\\.cpp$")
add_executable(hwtk3-diag ${HWTK3_TOOL_SOURCES})
target_link_libraries(hwtk3-diag PRIVATE hwtk3)
target_include_directories(hwtk3-diag PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(hwtk3-diag PRIVATE ${HWTK3_WARNINGS})
