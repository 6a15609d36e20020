# Installation layout and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

foreach(program qcsend qvrecv)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${program}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/man/${program}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/qvrecv-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quillcast/autostart)

# Application icons: the sender's first animation frame, the receiver's own
# program icon; SVG plus the rendered PNG sizes.
set(qcsend_icon_base ${PROJECT_SOURCE_DIR}/resources/sender/frame0)
set(qvrecv_icon_base ${PROJECT_SOURCE_DIR}/resources/receiver/icons/qvrecv)
foreach(program qcsend qvrecv)
  set(base ${${program}_icon_base})
  if(EXISTS ${base}.svg)
    install(FILES ${base}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME ${program}.svg)
  endif()
  foreach(size 16 22 24 32 48 64 128 256)
    if(EXISTS ${base}-${size}.png)
      install(FILES ${base}-${size}.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
              RENAME ${program}.png)
    endif()
  endforeach()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillcast)
set(CPACK_PACKAGE_VENDOR "Quillcast")
set(CPACK_PACKAGE_CONTACT "Quillcast developers <dev@quillcast.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live screen broadcast to every computer of a local network")
set(CPACK_PACKAGE_DESCRIPTION
    "qcsend captures the screen and multicasts the rows that changed; any number\n of qvrecv receivers show it in a window or full screen, with the sender's cursor.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillcast.invalid/")
include(CPack)
