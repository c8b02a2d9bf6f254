# Tests of the FTP client: the protocol on bytes, the component against scripted servers, and
# the module through the runtime against the real vsftpd.
add_executable(lanvex_ftp_protocol_tests
  ${CMAKE_CURRENT_LIST_DIR}/ftp_protocol_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_listing_test.cpp
)
target_link_libraries(lanvex_ftp_protocol_tests PRIVATE lanvex_ftp_protocol GTest::gtest_main)
vigil_warnings(lanvex_ftp_protocol_tests)
gtest_discover_tests(lanvex_ftp_protocol_tests)

if(TARGET lanvex_ftp)
  add_executable(lanvex_ftp_client_tests ${CMAKE_CURRENT_LIST_DIR}/ftp_client_test.cpp)
  target_link_libraries(lanvex_ftp_client_tests PRIVATE lanvex_ftp lanvex_test_peer
                        GTest::gtest_main)
  vigil_warnings(lanvex_ftp_client_tests)
  gtest_discover_tests(lanvex_ftp_client_tests PROPERTIES LABELS threads TIMEOUT 120)
endif()
