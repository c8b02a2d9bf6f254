# Tests of the cache and the file operation with its dialog (included from
# tests/lanvex/ftp/CMakeLists.txt).
if(TARGET lanvex_ftp)
  add_executable(lanvex_storage_tests
    ${CMAKE_CURRENT_LIST_DIR}/cache_test.cpp
  )
  target_link_libraries(lanvex_storage_tests PRIVATE lanvex_ftp GTest::gtest_main)
  vigil_warnings(lanvex_storage_tests)
  gtest_discover_tests(lanvex_storage_tests PROPERTIES TIMEOUT 60)
endif()
