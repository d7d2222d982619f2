# libFuzzer targets under AddressSanitizer and UndefinedBehaviorSanitizer:
# the library's sources instrumented, one program per fuzz/fuzz_*.cpp, and
# the seed generator that writes the virtual notebook's tables as corpus.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "HWTK3_FUZZ needs clang (CXX=clang++)")
endif()
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(HWTK3_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

add_library(hwtk3_fuzzed STATIC ${HWTK3_SOURCES})
target_include_directories(hwtk3_fuzzed PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(hwtk3_fuzzed PRIVATE ${HWTK3_WARNINGS} -fsanitize=fuzzer-no-link ${HWTK3_SANITIZERS})
target_link_libraries(hwtk3_fuzzed PUBLIC ${CMAKE_DL_LIBS})

file(GLOB HWTK3_FUZZ_TARGETS CONFIGURE_DEPENDS fuzz/fuzz_*.cpp)
foreach(source ${HWTK3_FUZZ_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE hwtk3_fuzzed)
  target_compile_options(${name} PRIVATE ${HWTK3_WARNINGS} -fsanitize=fuzzer ${HWTK3_SANITIZERS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer ${HWTK3_SANITIZERS})
endforeach()

add_executable(hwtk3_fuzz_seeds fuzz/make_seeds.cpp ${HWTK3_SIM_SOURCES})
target_include_directories(hwtk3_fuzz_seeds PRIVATE ${PROJECT_SOURCE_DIR})
