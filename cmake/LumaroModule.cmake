# One library target per module. Sources are every .cpp of the module folder
# (Generated/ included); a module without sources yet is an interface target.
function(lumaro_module name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       "${CMAKE_SOURCE_DIR}/Sources/${name}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/Sources")
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/Sources")
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

# One GoogleTest executable per test folder; each test case becomes a CTest test.
function(lumaro_test_suite folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${folder} ${sources})
  target_include_directories(${folder} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
  target_link_libraries(${folder} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${folder} PRIVATE
    LUMARO_SHARED_DIR="${LUMARO_SHARED_DIR}"
    LUMARO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    LUMARO_TOOL_PATH="$<TARGET_FILE:kelvane-pages>")
  add_dependencies(${folder} kelvane-pages)
  gtest_discover_tests(${folder} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
