# Cache (lvCache), FTP file operation and its dialog (lvFTPShellFile); included from
# lanvex/ftp/CMakeLists.txt into lanvex_ftp.
target_sources(lanvex_ftp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/text_property.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cache.cpp
)
