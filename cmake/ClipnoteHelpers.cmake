# Adds each listed directory that has a CMakeLists.txt, so areas can land independently.
function(clipnote_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# A static library made of every .cpp directly in the calling directory.
#   clipnote_glob_library(<target> [DEPS <libs>...])
function(clipnote_glob_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# A GoogleTest executable made of every .cpp directly in the calling directory,
# registered with CTest. Each test case gets a time limit (seconds, default
# 900: generous for a busy machine and the sanitizer builds), so a test that
# hangs fails instead of holding up the run.
#   clipnote_glob_tests(<target> [TIMEOUT <seconds>] [DEPS <libs>...])
function(clipnote_glob_tests target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 900)
  endif()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} clipnote_test_support GTest::gtest GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE
    CLIPNOTE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    CLIPNOTE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# A libFuzzer target from one source file.
#   clipnote_fuzz_target(<target> <source> [DEPS <libs>...])
function(clipnote_fuzz_target target source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${target} ${source})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS})
  if(CLIPNOTE_FUZZ)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    # Coverage build: the same target replays its corpus once, without libFuzzer.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  endif()
endfunction()
