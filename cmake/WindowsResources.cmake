# SPDX-License-Identifier: GPL-3.0-or-later
# Resources of the Windows programs, made at build time.
#
# qc_windows_icon(target name png...) makes <name>.ico from the PNG images
# (one per size) with icotool (Debian's icoutils) in the build folder, adds
# that folder to the target's include path, so that the target's resource
# scripts name the icon without a path, and recompiles those scripts when
# the icon changes. Call it after the target's .rc sources are added.
include_guard(GLOBAL)

find_program(QC_ICOTOOL icotool)
if(NOT QC_ICOTOOL)
  message(FATAL_ERROR "icotool not found: install Debian's icoutils")
endif()

function(qc_windows_icon target name)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/icons)
  set(ico ${dir}/${name}.ico)
  add_custom_command(OUTPUT ${ico}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${QC_ICOTOOL} -c -o ${ico} ${ARGN}
    DEPENDS ${ARGN}
    COMMENT "Making ${name}.ico"
    VERBATIM)
  target_sources(${target} PRIVATE ${ico})
  target_include_directories(${target} PRIVATE ${dir})
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.rc$")
      set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS ${ico})
    endif()
  endforeach()
endfunction()
