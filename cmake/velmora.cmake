# velmora_library(NAME [DEPENDS...]): a static library of every .cpp in the
# current folder, seen from the root of the tree ("archive/base/archive.h").
function(velmora_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# velmora_tests(NAME DIR [DEPENDS...]): one GoogleTest program of every
# *_test.cpp in tests/DIR (not its subfolders), each test registered with CTest.
function(velmora_tests name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARGN} velmora_test_support GTest::gtest GTest::gmock
                        GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
      VELMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      VELMORA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "VELMORA_UI=terminal")
endfunction()
