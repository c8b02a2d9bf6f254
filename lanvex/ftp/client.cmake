# FTP client (lvFTPClient). The protocol part needs no socket and no runtime, so tests, fuzz
# targets and benchmarks link it alone.
add_library(lanvex_ftp_protocol STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ftp_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_listing.cpp
)
set_target_properties(lanvex_ftp_protocol PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(lanvex_ftp_protocol PRIVATE ${lanvex_unloadable})
vigil_warnings(lanvex_ftp_protocol)

target_sources(lanvex_ftp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ftp_failure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_transfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_client_entries.cpp
)
target_link_libraries(lanvex_ftp PUBLIC lanvex_ftp_protocol)
