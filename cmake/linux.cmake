# Native Linux build: static and shared library, the real port-I/O
# provider, the virtual notebook with its stand-ins, tests and tools.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(HWTK3_SIM_DIR ${CMAKE_BINARY_DIR}/sim)

# Everything below (library, virtual notebook, stand-ins, tools and tests)
# under AddressSanitizer and UndefinedBehaviorSanitizer, every finding
# fatal, in a build tree of its own (scripts/build sanitize). The stand-ins
# are instrumented like the rest; the test program links the ASan runtime
# first, so the libraries it opens later find it in place.
option(HWTK3_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(HWTK3_SANITIZE)
  set(HWTK3_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # Unoptimised with line tables only: compiles in a quarter of the time
  # of -O1 -g, and the reports still name file and line.
  add_compile_options(${HWTK3_SANITIZE_FLAGS} -O0 -g1)
  add_link_options(${HWTK3_SANITIZE_FLAGS})
  # ASan intercepts dlopen, so the dynamic loader sees the runtime as the
  # caller and skips the caller's DT_RUNPATH: a program's search for the
  # stand-ins would miss its own run path. The program's DT_RPATH is still
  # searched for a caller without DT_RUNPATH, so the run paths are written
  # as DT_RPATH here.
  add_link_options(-Wl,--disable-new-dtags)
endif()

# The library, the virtual notebook, the stand-ins and the thread stress
# under ThreadSanitizer, in a build tree of their own (scripts/build tsan,
# which builds only the stress program and what it loads). Assertions stay
# compiled in: the identity record's lock checks the lock order with one.
option(HWTK3_TSAN "Build with ThreadSanitizer" OFF)
if(HWTK3_TSAN)
  set(HWTK3_TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  add_compile_options(${HWTK3_TSAN_FLAGS} -O1 -g1)
  add_link_options(${HWTK3_TSAN_FLAGS})
endif()

# A library that calls the C library only through another one still names
# it, as every shared object on the system does: the compiler driver links
# as needed and would drop it.
set(HWTK3_LINK_LIBC -Wl,--no-as-needed)

add_library(hwtk3_objects OBJECT ${HWTK3_SOURCES})
target_include_directories(hwtk3_objects PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(hwtk3_objects PRIVATE ${HWTK3_WARNINGS})
set_target_properties(hwtk3_objects PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

add_library(hwtk3_static STATIC $<TARGET_OBJECTS:hwtk3_objects>)
set_target_properties(hwtk3_static PROPERTIES OUTPUT_NAME hwtk3)
target_include_directories(hwtk3_static PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(hwtk3_static PUBLIC ${CMAKE_DL_LIBS} vqmitf_standin)

# Looks for libWinRing0.so beside itself first.
add_library(hwtk3_shared SHARED $<TARGET_OBJECTS:hwtk3_objects>)
set_target_properties(hwtk3_shared PROPERTIES
  OUTPUT_NAME hwtk3
  BUILD_RPATH "\$ORIGIN;${HWTK3_SIM_DIR}"
  INSTALL_RPATH "\$ORIGIN")
target_include_directories(hwtk3_shared PUBLIC ${PROJECT_SOURCE_DIR})
# The ACPI interface library is a load-time import, as on Windows.
target_link_libraries(hwtk3_shared PRIVATE ${CMAKE_DL_LIBS} vqmitf_provider)
target_link_options(hwtk3_shared PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/hwtk3.map)
set_target_properties(hwtk3_shared PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/hwtk3.map)

# The ACPI interface library of a real Linux machine (no ACPI interface
# there), for libhwtk3.so; the tests and tools link the notebook's stand-in.
add_library(vqmitf_provider SHARED platform/vqmitf_provider_linux.cpp)
target_include_directories(vqmitf_provider PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(vqmitf_provider PROPERTIES OUTPUT_NAME VQMITF CXX_VISIBILITY_PRESET hidden)
target_link_options(vqmitf_provider PRIVATE ${HWTK3_LINK_LIBC})

# The port-I/O library of a real Linux machine.
add_library(winring0_provider SHARED platform/winring0_provider_linux.cpp)
set_target_properties(winring0_provider PROPERTIES OUTPUT_NAME WinRing0
  CXX_VISIBILITY_PRESET hidden)
target_include_directories(winring0_provider PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(winring0_provider PRIVATE ${HWTK3_WARNINGS})
# The same source with the entry point that points it at a fake machine's
# files and ports: for the unit tests only, never installed or packaged.
set(HWTK3_TEST_LIB_DIR ${CMAKE_BINARY_DIR}/test-lib)
add_library(winring0_provider_testing SHARED platform/winring0_provider_linux.cpp)
set_target_properties(winring0_provider_testing PROPERTIES OUTPUT_NAME WinRing0Testing
  CXX_VISIBILITY_PRESET hidden LIBRARY_OUTPUT_DIRECTORY ${HWTK3_TEST_LIB_DIR})
target_include_directories(winring0_provider_testing PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(winring0_provider_testing PRIVATE ${HWTK3_WARNINGS})
target_compile_definitions(winring0_provider_testing PRIVATE HWTK3_PROVIDER_TESTING)

# Virtual notebook, shared so that the stand-ins and the test process drive
# one and the same machine.
add_library(hwtk3sim SHARED ${HWTK3_SIM_SOURCES})
target_include_directories(hwtk3sim PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(hwtk3sim PRIVATE ${HWTK3_WARNINGS})
set_target_properties(hwtk3sim PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${HWTK3_SIM_DIR})

function(hwtk3_standin target output)
  add_library(${target} SHARED ${ARGN})
  target_link_libraries(${target} PRIVATE hwtk3sim)
  target_link_options(${target} PRIVATE ${HWTK3_LINK_LIBC})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output}
    LIBRARY_OUTPUT_DIRECTORY ${HWTK3_SIM_DIR}
    CXX_VISIBILITY_PRESET hidden
    BUILD_RPATH "\$ORIGIN")
endfunction()

hwtk3_standin(winring0_standin WinRing0 sim/standin/winring0_standin.cpp)
hwtk3_standin(winring0_standin_partial WinRing0WithoutReadPhysicalMemory
  sim/standin/winring0_standin.cpp)
target_compile_definitions(winring0_standin_partial PRIVATE HWTK3_SIM_WITHOUT_READ_PHYSICAL_MEMORY)
hwtk3_standin(vqmitf_standin VQMITF sim/standin/vqmitf_standin.cpp)

# hwtk3-diag: the factory test, on the virtual notebook or (--hardware)
# on the machine itself through the real provider in lib/. Everything but
# main() is a library of its own so the tests can run the sequence.
file(GLOB HWTK3_TOOL_SOURCES CONFIGURE_DEPENDS tools/*.cpp)
list(FILTER HWTK3_TOOL_SOURCES EXCLUDE REGEX "(_win32\\.cpp|/hwtk3_diag\\.cpp)$")
add_library(hwtk3_diag_core STATIC ${HWTK3_TOOL_SOURCES})
target_link_libraries(hwtk3_diag_core PUBLIC hwtk3_static hwtk3sim)
target_compile_options(hwtk3_diag_core PRIVATE ${HWTK3_WARNINGS})
add_executable(hwtk3-diag tools/hwtk3_diag.cpp)
target_link_libraries(hwtk3-diag PRIVATE hwtk3_diag_core)
target_compile_options(hwtk3-diag PRIVATE ${HWTK3_WARNINGS})
set_target_properties(hwtk3-diag PROPERTIES BUILD_RPATH "${HWTK3_SIM_DIR}")
add_dependencies(hwtk3-diag winring0_standin winring0_provider)

# Host threads calling every export at once on the virtual notebook: a
# ctest entry of every tree, the only one of the ThreadSanitizer tree.
add_executable(hwtk3_thread_stress tests/stress/thread_stress.cpp tests/fresh_library.cpp)
target_link_libraries(hwtk3_thread_stress PRIVATE hwtk3_static hwtk3sim)
target_compile_options(hwtk3_thread_stress PRIVATE ${HWTK3_WARNINGS})
target_compile_definitions(hwtk3_thread_stress PRIVATE HWTK3_SIM_DIR="${HWTK3_SIM_DIR}")
set_target_properties(hwtk3_thread_stress PROPERTIES BUILD_RPATH "${HWTK3_SIM_DIR}")
add_dependencies(hwtk3_thread_stress winring0_standin)
enable_testing()
add_test(NAME stress.threads COMMAND hwtk3_thread_stress)
if(HWTK3_TSAN)
  # Any race or lock-order inversion fails the run.
  set_tests_properties(stress.threads PROPERTIES ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1")
endif()

# Unit tests: each test case runs in a process of its own, since the
# library's state is process-wide by design.
option(HWTK3_TESTS "Build the unit tests" ON)
if(HWTK3_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  file(GLOB HWTK3_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
  add_executable(hwtk3_tests ${HWTK3_TEST_SOURCES})
  target_link_libraries(hwtk3_tests PRIVATE hwtk3_diag_core hwtk3_static hwtk3sim GTest::gtest_main)
  target_compile_definitions(hwtk3_tests PRIVATE
    HWTK3_SIM_DIR="${HWTK3_SIM_DIR}" HWTK3_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    HWTK3_BIN_DIR="${CMAKE_BINARY_DIR}/bin" HWTK3_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(hwtk3_tests PROPERTIES BUILD_RPATH "${HWTK3_SIM_DIR}")
  add_dependencies(hwtk3_tests hwtk3-diag winring0_standin winring0_standin_partial winring0_provider hwtk3_shared)
  target_compile_definitions(hwtk3_tests PRIVATE HWTK3_TEST_LIB_DIR="${HWTK3_TEST_LIB_DIR}")
  add_dependencies(hwtk3_tests winring0_provider_testing)
  gtest_discover_tests(hwtk3_tests DISCOVERY_TIMEOUT 60)
  # Every test starts from the state of a freshly loaded library, so one
  # process running them all (or any filter of them) gives the same results.
  add_test(NAME unit.one_process COMMAND hwtk3_tests)
  add_test(NAME unit.one_process.binding COMMAND hwtk3_tests --gtest_filter=BindingTest.*)
  add_test(NAME unit.one_process.served_then_provider
    COMMAND hwtk3_tests --gtest_filter=BindingTest.ModuleServed*:BindingTest.RealProvider*)
endif()

# Benchmarks (Google Benchmark), when it is installed.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  file(GLOB HWTK3_BENCH_SOURCES CONFIGURE_DEPENDS bench/*.cpp)
  add_executable(hwtk3_bench ${HWTK3_BENCH_SOURCES})
  target_link_libraries(hwtk3_bench PRIVATE hwtk3_static hwtk3sim benchmark::benchmark)
  target_compile_definitions(hwtk3_bench PRIVATE HWTK3_SIM_DIR="${HWTK3_SIM_DIR}")
  set_target_properties(hwtk3_bench PROPERTIES BUILD_RPATH "${HWTK3_SIM_DIR}")
  add_dependencies(hwtk3_bench winring0_standin)
endif()

# The Python binding's test equipment (python/CMakeLists.txt).
if(HWTK3_TESTS AND NOT HWTK3_SANITIZE)
  add_subdirectory(python)
endif()

# Installation and the package files for consumers.
include(${PROJECT_SOURCE_DIR}/cmake/install.cmake)
