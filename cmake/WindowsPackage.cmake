# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows packages (cpack in the cross build): a zip holding the programs
# and a README, and an NSIS installer (Debian's makensis) that installs them
# to Program Files, adds Start-menu entries and registers an uninstaller.
#
#   cmake --build build/windows --target windows_packages
#
# leaves Quillcast-<version>-win64.zip and Quillcast-<version>-win64.exe in
# build/windows/packages.

# Start-menu entries: program target, then the entry's name.
set(QC_WINDOWS_PROGRAMS
  qcsend "Quillcast"
  qvrecv "Quillview")

set(qc_start_menu_entries "")
set(qc_package_targets "")
set(qc_index 0)
list(LENGTH QC_WINDOWS_PROGRAMS qc_count)
while(qc_index LESS qc_count)
  list(GET QC_WINDOWS_PROGRAMS ${qc_index} program)
  math(EXPR qc_index "${qc_index} + 1")
  list(GET QC_WINDOWS_PROGRAMS ${qc_index} entry)
  math(EXPR qc_index "${qc_index} + 1")
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION .)
    list(APPEND qc_start_menu_entries ${program} ${entry})
    list(APPEND qc_package_targets ${program})
  endif()
endwhile()
install(FILES ${PROJECT_SOURCE_DIR}/resources/windows/README.txt DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# The programs hold gf-complete (BSD licence): its notice goes with them.
install(FILES ${QC_GF_COMPLETE_SOURCE}/License.txt DESTINATION . RENAME gf-complete-LICENSE.txt)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Quillcast)
set(CPACK_PACKAGE_VENDOR "Quillcast")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Quillcast-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live screen broadcast to the computers of a local network")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quillcast)
set(CPACK_PACKAGE_EXECUTABLES ${qc_start_menu_entries})
set(CPACK_STRIP_FILES ON)
# Stripping a Windows program stamps its header with the time of the strip;
# both packages strip with the one time fixed here (SOURCE_DATE_EPOCH when
# set), so that the zip and the installer hold the same programs, byte for
# byte, however long cpack takes between them.
string(TIMESTAMP CPACK_QC_SOURCE_DATE_EPOCH "%s" UTC)
# The zip unpacks into one folder named after the package (the installer
# chooses its own folder: cmake/WindowsPackageGenerator.cmake).
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/WindowsPackageGenerator.cmake)

set(CPACK_NSIS_EXECUTABLE makensis)
# A 64-bit installer: it runs where the programs run, and under wine64 alone.
set(CPACK_NSIS_DEFINES "Unicode true\nTarget amd64-unicode")
# The installer's title and Start-menu folder "Quillcast"; one uninstall key
# for every version, so that installing a new one removes the old one first.
set(CPACK_NSIS_PACKAGE_NAME "Quillcast")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quillcast)
set(CPACK_NSIS_DISPLAY_NAME "Quillcast ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_INSTALLED_ICON_NAME qvrecv.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_URL_INFO_ABOUT "https://quillcast.invalid/")
set(CPACK_NSIS_CONTACT "dev@quillcast.invalid")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)

add_custom_target(windows_packages
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Packing the Windows zip and installer"
  VERBATIM)
if(qc_package_targets)
  add_dependencies(windows_packages ${qc_package_targets})
endif()
