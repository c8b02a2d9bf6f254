# watchfiles: psvigil.cfg and the watch log (.pvg) formats. No Qt, so psvigil-cli links it;
# wide strings are converted by the runtime's conversions.
add_library(watchfiles STATIC
  ${CMAKE_CURRENT_LIST_DIR}/atomic_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/archive_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/watch_log.cpp
)
target_link_libraries(watchfiles PUBLIC watchcore comrt)
vigil_warnings(watchfiles)
