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

# The module as the runtime loads it, against vsftpd from scripts/peers (skipped without it).
if(TARGET lanvex AND TARGET comreg AND TARGET comcall)
  add_executable(lanvex_ftp_server_tests ${CMAKE_CURRENT_LIST_DIR}/ftp_server_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/platform/com/test_hive.cpp)
  target_link_libraries(lanvex_ftp_server_tests PRIVATE comrt lanvex_test_peer GTest::gtest_main)
  target_compile_definitions(lanvex_ftp_server_tests PRIVATE
    LANVEX_MODULE_PATH="$<TARGET_FILE:lanvex>" COMREG_PATH="$<TARGET_FILE:comreg>"
    COMCALL_PATH="$<TARGET_FILE:comcall>")
  add_dependencies(lanvex_ftp_server_tests lanvex comreg comcall)
  vigil_warnings(lanvex_ftp_server_tests)
  gtest_discover_tests(lanvex_ftp_server_tests PROPERTIES TIMEOUT 120)
endif()
