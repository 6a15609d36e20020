# SPDX-License-Identifier: GPL-3.0-or-later
# The layering rule, checked on every build: a file may include only headers
# of its own target and of the targets that target links (directly or
# through them). A header belongs to the target that compiles the source of
# the same name (beside it, or in a system's child folder), else to the
# targets with sources in its folder. So the
# portable core cannot include a Qt or Win32 back-end, the sender and the
# receiver cannot include each other. Product code only: tests, benchmarks
# and tools may reach into any layer they test.
#
# qc_check_layering() is called once, after every target is defined: it
# writes what the check needs (each target's files and what it links) and
# adds the target qc_layering, which runs cmake/LayeringCheck.cmake when any
# of those files changes. A break fails the build with the file and line.

function(qc_layer_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${sub} NORMALIZE inside)
    cmake_path(RELATIVE_PATH sub BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE rel)
    if(inside AND NOT rel MATCHES "^(tests|bench|tools)(/|$)")
      qc_layer_targets(${sub} more)
      list(APPEND targets ${more})
    endif()
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The targets T links, itself included, followed through what they link.
function(qc_layer_closure target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(type ${t} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${t} LINK_LIBRARIES)
    endif()
    get_target_property(ilinks ${t} INTERFACE_LINK_LIBRARIES)
    foreach(l ${links} ${ilinks})
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
      if(l AND NOT l MATCHES "-NOTFOUND$" AND NOT l MATCHES "^\\$<" AND TARGET ${l})
        list(APPEND queue ${l})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(qc_check_layering)
  qc_layer_targets(${PROJECT_SOURCE_DIR} targets)
  set(manifest "# Written by cmake/Layering.cmake.\n")
  set(all_files)
  set(checked)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(dir ${t} SOURCE_DIR)
    get_target_property(sources ${t} SOURCES)
    set(files)
    foreach(s ${sources})
      if(s MATCHES "^\\$<" OR NOT s MATCHES "\\.(c|cpp|h)$")
        continue()
      endif()
      cmake_path(ABSOLUTE_PATH s BASE_DIRECTORY ${dir} NORMALIZE OUTPUT_VARIABLE f)
      cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${f} NORMALIZE inside)
      if(inside)
        list(APPEND files ${f})
      endif()
    endforeach()
    if(NOT files)
      continue()
    endif()
    qc_layer_closure(${t} links)
    list(APPEND checked ${t})
    list(APPEND all_files ${files})
    string(APPEND manifest "set(files_${t} \"${files}\")\nset(links_${t} \"${links}\")\n")
  endforeach()
  # The headers of every folder that holds sources, so a new include of an
  # existing header is seen too; the build globs again when one comes or goes.
  set(dirs)
  foreach(f ${all_files})
    cmake_path(GET f PARENT_PATH d)
    list(APPEND dirs ${d})
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  foreach(d ${dirs})
    file(GLOB headers CONFIGURE_DEPENDS ${d}/*.h)
    list(APPEND all_files ${headers})
  endforeach()
  list(REMOVE_DUPLICATES all_files)
  string(APPEND manifest "set(targets \"${checked}\")\nset(root \"${PROJECT_SOURCE_DIR}\")\n")
  set(manifest_file ${CMAKE_BINARY_DIR}/layering_manifest.cmake)
  file(CONFIGURE OUTPUT ${manifest_file} CONTENT "${manifest}" @ONLY)
  set(stamp ${CMAKE_BINARY_DIR}/layering.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest_file} -DSTAMP=${stamp}
            -P ${PROJECT_SOURCE_DIR}/cmake/LayeringCheck.cmake
    DEPENDS ${all_files} ${manifest_file} ${PROJECT_SOURCE_DIR}/cmake/LayeringCheck.cmake
    COMMENT "Checking the layering of includes" VERBATIM)
  add_custom_target(qc_layering ALL DEPENDS ${stamp})
endfunction()
