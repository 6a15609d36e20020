# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build's modules: the portable core (common, platform with its
# Windows implementation, the shells' shared rules, the capture core without
# its X11 sources, the viewer core without the Qt window) and, with
# QC_BUILD_TESTS, its unit tests. No Qt, no X11.
include(${CMAKE_CURRENT_LIST_DIR}/WindowsResources.cmake)
set(QC_BUILD_GUI OFF)
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)

foreach(dir common platform shell sender/capture sender/shell receiver/viewer receiver/shell)
  add_subdirectory(${dir})
endforeach()

if(QC_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
include(${PROJECT_SOURCE_DIR}/cmake/WindowsPackage.cmake)

include(${PROJECT_SOURCE_DIR}/cmake/Layering.cmake)
qc_check_layering()
