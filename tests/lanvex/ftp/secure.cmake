# Tests of FTPS and SFTP: the TLS layer against a scripted TLS peer with certificates made on
# the spot (included from tests/lanvex/ftp/CMakeLists.txt).
if(TARGET lanvex_ftp)
  find_package(OpenSSL REQUIRED)
  add_library(lanvex_tls_test_peer STATIC ${CMAKE_CURRENT_LIST_DIR}/tls_test_peer.cpp)
  target_link_libraries(lanvex_tls_test_peer PUBLIC OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
  vigil_warnings(lanvex_tls_test_peer)

  add_executable(lanvex_ftp_secure_tests
    ${CMAKE_CURRENT_LIST_DIR}/tls_connection_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sftp_session_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ftps_client_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_file_secure_test.cpp
  )
  target_link_libraries(lanvex_ftp_secure_tests PRIVATE lanvex_ftp lanvex_tls_test_peer
                        lanvex_test_peer GTest::gtest_main)
  vigil_warnings(lanvex_ftp_secure_tests)
  gtest_discover_tests(lanvex_ftp_secure_tests
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen LABELS threads TIMEOUT 120)
endif()
