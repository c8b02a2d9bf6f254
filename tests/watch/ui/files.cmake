# Tests of watchfiles: psvigil.cfg and the watch log format (no Qt).
add_executable(watchfiles_tests
  ${CMAKE_CURRENT_LIST_DIR}/config_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/watch_log_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/atomic_file_test.cpp
)
target_link_libraries(watchfiles_tests PRIVATE watchfiles GTest::gtest GTest::gtest_main)
vigil_warnings(watchfiles_tests)
gtest_discover_tests(watchfiles_tests)
