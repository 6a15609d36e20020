# SPDX-License-Identifier: GPL-3.0-or-later
# cpack reads this once per generator: the installer has no top-level folder
# of its own (NSIS refuses the option); every generator strips with the same
# time stamp (cmake/WindowsPackage.cmake).
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_QC_SOURCE_DATE_EPOCH}")
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
