# SPDX-License-Identifier: GPL-3.0-or-later
# Installation layout and the Debian package (cpack -G DEB).
#
# The package follows Debian policy as lintian checks it: stripped programs,
# manual pages and changelog compressed with gzip -9n (no name or time stamp,
# so rebuilds give the same bytes), a machine-readable copyright file, 0755
# directories and 0644 data files whatever the umask of the build.
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The programs a user starts. Each one ships with its desktop entry and its
# manual page (resources/desktop/<name>.desktop, resources/man/<name>.1).
set(QC_USER_PROGRAMS qcsend qvrecv)

set(qc_debian_dir ${PROJECT_SOURCE_DIR}/resources/debian)
set(qc_package_stage ${PROJECT_BINARY_DIR}/package-files)

# Compresses SOURCE into the staging folder as NAME.gz. This happens when
# CMake configures (and again whenever SOURCE changes), so the files are
# there for cpack and cmake --install whichever targets were built.
function(qc_gzip_for_package source name)
  file(MAKE_DIRECTORY ${qc_package_stage})
  execute_process(COMMAND gzip -9nc ${source}
                  OUTPUT_FILE ${qc_package_stage}/${name}.gz
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${source}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

foreach(program ${QC_USER_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${program}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  qc_gzip_for_package(${PROJECT_SOURCE_DIR}/resources/man/${program}.1 ${program}.1)
  install(FILES ${qc_package_stage}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# The web gateway: a program and its manual page (no desktop entry: it is a
# service, started from a terminal or a unit).
if(TARGET qvweb)
  install(TARGETS qvweb RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
qc_gzip_for_package(${PROJECT_SOURCE_DIR}/resources/man/qvweb.1 qvweb.1)
install(FILES ${qc_package_stage}/qvweb.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/qvrecv-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quillcast/autostart)

# Application icons: the sender's first animation frame, the receiver's own
# program icon; SVG plus the rendered PNG sizes.
set(qcsend_icon_base ${PROJECT_SOURCE_DIR}/resources/sender/frame0)
set(qvrecv_icon_base ${PROJECT_SOURCE_DIR}/resources/receiver/icons/qvrecv)
foreach(program ${QC_USER_PROGRAMS})
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

# Debian documentation: the package's changelog and its copyright file, and
# the lintian tags that do not apply to this package (each says why).
qc_gzip_for_package(${qc_debian_dir}/changelog changelog.Debian)
install(FILES ${qc_package_stage}/changelog.Debian.gz ${qc_debian_dir}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillcast)
install(FILES ${qc_debian_dir}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quillcast)

# The package version is the changelog's newest entry, as dpkg-buildpackage
# would take it: upstream version, a dash, the Debian revision.
file(STRINGS ${qc_debian_dir}/changelog qc_changelog_head LIMIT_COUNT 1)
if(NOT qc_changelog_head MATCHES "^quillcast \\(([^)]+)-([^)-]+)\\) ")
  message(FATAL_ERROR "resources/debian/changelog: first line is not a quillcast entry: ${qc_changelog_head}")
endif()
set(qc_changelog_upstream ${CMAKE_MATCH_1})
set(qc_changelog_revision ${CMAKE_MATCH_2})
if(NOT qc_changelog_upstream STREQUAL PROJECT_VERSION)
  message(WARNING "resources/debian/changelog ends at ${qc_changelog_upstream} but the project is "
                  "${PROJECT_VERSION}: add a changelog entry before building the package")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillcast)
set(CPACK_PACKAGE_VENDOR "Quillcast")
set(CPACK_PACKAGE_CONTACT "Quillcast developers <dev@quillcast.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${qc_changelog_revision})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillcast.invalid/")
# The libraries come from dpkg-shlibdeps. Qt loads its X11 platform plugin at
# run time, which no linker dependency shows; both programs need it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libavcodec, libavutil and libswscale (the video region's H.264, x264 with
# them) come from dpkg-shlibdeps as well.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# qvweb --tls-self-signed makes its certificate with the openssl tool.
# Sending from a GNOME or KDE Wayland desktop goes through the ScreenCast
# portal and PipeWire; their libraries come from dpkg-shlibdeps, the
# services that answer are recommended (X11 and wlroots desktops need none),
# and so is Qt's Wayland platform for a tray where no XWayland runs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "openssl, xdg-desktop-portal, pipewire, qt6-wayland")
# Synopsis under 80 characters. CPack puts it before the extended text and
# indents each extended line by one space (an empty line becomes " ."), so
# these lines stay under 79 characters.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live screen broadcast to the computers of a local network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillcast shows one computer's screen live on any number of computers of the
same local network: a teacher's desktop, a presentation, a lab demonstration.

qcsend captures the screen (X11; on Wayland through the desktop's ScreenCast
portal or wlr-screencopy) and multicasts the rows that changed, each
datagram compressed on its own. qvrecv shows the picture in a window or full
screen, with the sender's cursor. Both programs run in the system tray.")
include(CPack)
