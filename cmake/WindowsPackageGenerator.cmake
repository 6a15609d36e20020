# SPDX-License-Identifier: GPL-3.0-or-later
# cpack reads this once per generator: the installer has no top-level folder
# of its own (NSIS refuses the option).
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
