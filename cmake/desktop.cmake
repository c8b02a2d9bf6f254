# Desktop integration of the installed psvigil: its menu entry, its AppStream description, the
# watch log's MIME type and the icon in the hicolor theme, rendered at build time by the
# program's own drawing code.
set(vigil_icon_sizes 16 22 24 32 48 64 128 256)
set(vigil_icon_dir ${CMAKE_BINARY_DIR}/share/icons/hicolor)

add_executable(render_icon ${CMAKE_SOURCE_DIR}/packaging/render_icon.cpp)
target_link_libraries(render_icon PRIVATE watchui_frame)
vigil_warnings(render_icon)

set(vigil_icon_files ${vigil_icon_sizes})
list(TRANSFORM vigil_icon_files REPLACE "(.+)" "${vigil_icon_dir}/\\1x\\1/apps/psvigil.png")
add_custom_command(OUTPUT ${vigil_icon_files}
  COMMAND render_icon ${vigil_icon_dir} ${vigil_icon_sizes}
  DEPENDS render_icon
  COMMENT "Rendering the psvigil icon")
add_custom_target(psvigil_icons ALL DEPENDS ${vigil_icon_files})
add_dependencies(installables psvigil_icons)

foreach(size IN LISTS vigil_icon_sizes)
  install(FILES ${vigil_icon_dir}/${size}x${size}/apps/psvigil.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/psvigil.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/psvigil.xml DESTINATION share/mime/packages)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/psvigil.metainfo.xml DESTINATION share/metainfo
  RENAME example.korvane.psvigil.metainfo.xml)
