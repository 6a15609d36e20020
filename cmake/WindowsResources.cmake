# Icons of the Windows programs, made at build time from the PNG pictures
# in resources/ (icotool from icoutils), so that no binary .ico lives in git.
#
#   qc_windows_icon(OUTPUT file.ico PNGS a-16.png a-32.png ...)
#
# OUTPUT is relative to the current binary directory; the resource script
# names the .ico file alone and finds it there through the target's include
# directories (windres searches them for the files it embeds). Returns the
# full path in the variable <name of the .ico without extension>_ICO.
find_program(QC_ICOTOOL icotool REQUIRED)

function(qc_windows_icon)
  cmake_parse_arguments(I "" "OUTPUT" "PNGS" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${I_OUTPUT})
  add_custom_command(OUTPUT ${out}
    COMMAND ${QC_ICOTOOL} -c -o ${out} ${I_PNGS}
    DEPENDS ${I_PNGS}
    COMMENT "Making ${I_OUTPUT}"
    VERBATIM)
  get_filename_component(stem ${I_OUTPUT} NAME_WE)
  string(REPLACE "-" "_" stem ${stem})
  set(${stem}_ICO ${out} PARENT_SCOPE)
endfunction()
