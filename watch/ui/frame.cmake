# watchui_frame: main frame, tray icon, notify sink, splash, About box, recent files, desktop
# registration and our own pictures. watchui_app and the psvigil executable join it to the
# document and its view.
add_library(watchui_frame STATIC
  ${CMAKE_CURRENT_LIST_DIR}/main_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame.h
  ${CMAKE_CURRENT_LIST_DIR}/status_pane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_pane.h
  ${CMAKE_CURRENT_LIST_DIR}/tray_icon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tray_icon.h
  ${CMAKE_CURRENT_LIST_DIR}/qt_notify_sink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_notify_sink.h
  ${CMAKE_CURRENT_LIST_DIR}/splash_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/splash_window.h
  ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about_box.h
  ${CMAKE_CURRENT_LIST_DIR}/recent_file_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recent_file_list.h
  ${CMAKE_CURRENT_LIST_DIR}/desktop_registration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_registration.h
  ${CMAKE_CURRENT_LIST_DIR}/resources/artwork.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources/artwork.h
)
set_target_properties(watchui_frame PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
target_link_libraries(watchui_frame PUBLIC watchcore Qt6::Core Qt6::Gui Qt6::Widgets)
vigil_warnings(watchui_frame)

if(TARGET watchui_doc)
  add_library(watchui_app STATIC
    ${CMAKE_CURRENT_LIST_DIR}/document_binding.cpp
    ${CMAKE_CURRENT_LIST_DIR}/document_binding.h
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_app.cpp
    ${CMAKE_CURRENT_LIST_DIR}/psvigil_app.h
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line.h
    ${CMAKE_CURRENT_LIST_DIR}/lanvex_registration.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lanvex_registration.h
  )
  set_target_properties(watchui_app PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(watchui_app PUBLIC watchui_frame watchui_doc ${CMAKE_DL_LIBS})
  vigil_warnings(watchui_app)

  add_executable(psvigil ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  set_target_properties(psvigil PROPERTIES AUTOMOC ON AUTORCC ON AUTOUIC OFF)
  target_link_libraries(psvigil PRIVATE watchui_app)
  vigil_warnings(psvigil)
endif()
