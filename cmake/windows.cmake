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
target_compile_options(hwtk3 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${HWTK3_WARNINGS}>)
# The battery class devices are found through the Setup API.
target_link_libraries(hwtk3 PRIVATE setupapi)
# Beside each GCC-decorated export, the Visual C++ name of the same
# declaration (cmake/hwtk3.def), so that a Visual C++ host binds them too.
target_sources(hwtk3 PRIVATE ${PROJECT_SOURCE_DIR}/cmake/hwtk3.def)

# Stand-ins: self-contained, on real time, scenarios from the environment;
# each says through an entry point of its own that it is the virtual
# notebook (sim/standin/standin_identity.h).
function(hwtk3_standin target output)
  add_library(${target} SHARED ${HWTK3_SIM_SOURCES} ${PROJECT_SOURCE_DIR}/sim/standin/standin_identity.cpp ${ARGN})
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

# Version resources of the two files we ship (FileVersion, ProductVersion,
# ProductName from the project's version).
enable_language(RC)
function(hwtk3_version_resource target name filetype description)
  set(HWTK3_RC_NAME ${name})
  set(HWTK3_RC_FILETYPE ${filetype})
  set(HWTK3_RC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${HWTK3_GENERATED_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${HWTK3_GENERATED_DIR}/${target}.rc)
  set_property(SOURCE ${HWTK3_GENERATED_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
    ${HWTK3_GENERATED_DIR}/hwtk3_version.h)
endfunction()
hwtk3_version_resource(hwtk3 hwtk3.dll VFT_DLL "hwtk3 hardware diagnostics library")
target_include_directories(hwtk3 PRIVATE ${HWTK3_GENERATED_DIR})

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
target_include_directories(hwtk3-diag PRIVATE ${PROJECT_SOURCE_DIR} ${HWTK3_GENERATED_DIR})
target_compile_options(hwtk3-diag PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${HWTK3_WARNINGS}>)
hwtk3_version_resource(hwtk3-diag hwtk3-diag.exe VFT_APP "hwtk3 factory test")

# hwtk3.lib: the import library a Visual C++ linker takes, naming the Visual
# C++ exports of cmake/hwtk3.def. The Visual C++ host in tests/msvc is built
# with clang in Visual C++ mode and lld-link, without any system header or
# library: it declares the few kernel32.dll functions it needs itself.
find_program(HWTK3_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
find_program(HWTK3_CLANG NAMES clang clang-14)
find_program(HWTK3_LLD_LINK NAMES lld-link lld-link-14)
if(HWTK3_LLVM_DLLTOOL)
  file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/hwtk3.def HWTK3_DEF_LINES REGEX "^ *\"\\?Diag_")
  set(HWTK3_MSVC_DEF "LIBRARY hwtk3.dll\nEXPORTS\n")
  foreach(line ${HWTK3_DEF_LINES})
    string(REGEX REPLACE "^ *(\"[^\"]+\").*" "  \\1" name "${line}")
    string(APPEND HWTK3_MSVC_DEF "${name}\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/hwtk3-msvc.def.in "${HWTK3_MSVC_DEF}")
  configure_file(${CMAKE_BINARY_DIR}/hwtk3-msvc.def.in ${CMAKE_BINARY_DIR}/hwtk3-msvc.def COPYONLY)
  set(HWTK3_MSVC_LIB ${CMAKE_BINARY_DIR}/lib/hwtk3.lib)
  add_custom_command(OUTPUT ${HWTK3_MSVC_LIB}
    COMMAND ${HWTK3_LLVM_DLLTOOL} -m i386 -D hwtk3.dll -d ${CMAKE_BINARY_DIR}/hwtk3-msvc.def -l ${HWTK3_MSVC_LIB}
    DEPENDS ${CMAKE_BINARY_DIR}/hwtk3-msvc.def ${PROJECT_SOURCE_DIR}/cmake/hwtk3.def
    COMMENT "Visual C++ import library hwtk3.lib")
  add_custom_target(hwtk3_msvc_lib ALL DEPENDS ${HWTK3_MSVC_LIB})
  add_dependencies(hwtk3_msvc_lib hwtk3)
else()
  message(WARNING "llvm-dlltool not found: no hwtk3.lib (scripts/setup installs llvm)")
endif()

if(HWTK3_LLVM_DLLTOOL AND HWTK3_CLANG AND HWTK3_LLD_LINK)
  set(msvc_dir ${CMAKE_BINARY_DIR}/msvc)
  set(msvc_host ${CMAKE_BINARY_DIR}/bin/wine_msvc_host.exe)
  add_custom_command(OUTPUT ${msvc_dir}/kernel32.lib
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_dir}
    COMMAND ${HWTK3_LLVM_DLLTOOL} -m i386 -k -d ${PROJECT_SOURCE_DIR}/tests/msvc/kernel32.def -l ${msvc_dir}/kernel32.lib
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/msvc/kernel32.def)
  add_custom_command(OUTPUT ${msvc_dir}/wine_msvc_host.obj
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_dir}
    COMMAND ${HWTK3_CLANG} --target=i686-pc-windows-msvc -std=c++17 -O2 -nostdinc -ffreestanding
            -fno-exceptions -fno-rtti -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/include
            -c ${PROJECT_SOURCE_DIR}/tests/msvc/wine_msvc_host.cpp -o ${msvc_dir}/wine_msvc_host.obj
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/msvc/wine_msvc_host.cpp ${PROJECT_SOURCE_DIR}/include/hwtk3.h)
  add_custom_command(OUTPUT ${msvc_host}
    COMMAND ${HWTK3_LLD_LINK} /nologo /nodefaultlib /entry:HostMain /subsystem:console /machine:x86
            /out:${msvc_host} ${msvc_dir}/wine_msvc_host.obj ${HWTK3_MSVC_LIB} ${msvc_dir}/kernel32.lib
    DEPENDS ${msvc_dir}/wine_msvc_host.obj ${HWTK3_MSVC_LIB} ${msvc_dir}/kernel32.lib
    COMMENT "Visual C++ host wine_msvc_host.exe (clang, lld-link)")
  add_custom_target(wine_msvc_host ALL DEPENDS ${msvc_host})

  # hwtk3_load_time.exe: the load time of hwtk3.dll, for scripts/wine-tests.
  set(load_time ${CMAKE_BINARY_DIR}/bin/hwtk3_load_time.exe)
  add_custom_command(OUTPUT ${load_time}
    COMMAND ${HWTK3_CLANG} --target=i686-pc-windows-msvc -std=c++17 -O2 -nostdinc -ffreestanding
            -fno-exceptions -fno-rtti -Wall -Wextra -Werror
            -c ${PROJECT_SOURCE_DIR}/tests/msvc/hwtk3_load_time.cpp -o ${msvc_dir}/hwtk3_load_time.obj
    COMMAND ${HWTK3_LLD_LINK} /nologo /nodefaultlib /entry:LoadTimeMain /subsystem:console /machine:x86
            /out:${load_time} ${msvc_dir}/hwtk3_load_time.obj ${msvc_dir}/kernel32.lib
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/msvc/hwtk3_load_time.cpp ${msvc_dir}/kernel32.lib
    COMMENT "hwtk3_load_time.exe (clang, lld-link)")
  add_custom_target(hwtk3_load_time ALL DEPENDS ${load_time})
else()
  message(WARNING "clang, lld-link or llvm-dlltool missing: no Visual C++ host (scripts/setup installs them)")
endif()
