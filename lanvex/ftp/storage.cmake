# Cache (lvCache), FTP file operation and its dialog (lvFTPShellFile); included from
# lanvex/ftp/CMakeLists.txt into lanvex_ftp.
target_sources(lanvex_ftp PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/text_property.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_file_match.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_file_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shell_file_execute.cpp
)
# The dialog needs Qt Widgets; a build without them has a Configure that shows nothing.
if(TARGET platform_ui)
  target_sources(lanvex_ftp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/shell_file_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell_file_dialog_host.cpp)
  target_link_libraries(lanvex_ftp PUBLIC platform_ui ${CMAKE_DL_LIBS})
else()
  target_sources(lanvex_ftp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/shell_file_no_dialog.cpp)
endif()
