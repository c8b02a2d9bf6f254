# FTPS for lvFTPClient (OpenSSL) and SFTP for lvFTPShellFile (libssh); included from
# lanvex/ftp/CMakeLists.txt into lanvex_ftp. The socket-free decisions are a library of their own
# for tests and fuzz targets.
find_package(OpenSSL REQUIRED)
add_library(lanvex_ftp_secure_policy STATIC
  ${CMAKE_CURRENT_LIST_DIR}/tls_policy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sftp_listing.cpp
)
set_target_properties(lanvex_ftp_secure_policy PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(lanvex_ftp_secure_policy PRIVATE ${lanvex_unloadable})
target_link_libraries(lanvex_ftp_secure_policy PUBLIC OpenSSL::Crypto)
vigil_warnings(lanvex_ftp_secure_policy)

target_sources(lanvex_ftp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/tls_connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tls_ftp_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sftp_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sftp_session_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sftp_file_client.cpp
)
target_link_libraries(lanvex_ftp PUBLIC lanvex_ftp_secure_policy OpenSSL::SSL OpenSSL::Crypto)
