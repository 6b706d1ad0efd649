# cmake -DOBJDUMP=<objdump> -DEXE=<installer> -P shipped_sections.cmake
# A shipped installer carries no debug sections (the loader would map them
# with the image: tens of MB of memory per run); its debug information is in
# <installer>.debug, linked by a .gnu_debuglink section.
foreach(file "${EXE}" "${EXE}.debug")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "missing: ${file}")
  endif()
endforeach()
execute_process(COMMAND ${OBJDUMP} -h "${EXE}" OUTPUT_VARIABLE exe_sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -h ${EXE} failed (${rc})")
endif()
if(exe_sections MATCHES "\\.debug_")
  message(FATAL_ERROR "${EXE} carries debug sections:\n${exe_sections}")
endif()
if(NOT exe_sections MATCHES "\\.gnu_debuglink")
  message(FATAL_ERROR "${EXE} has no link to its debug file")
endif()
execute_process(COMMAND ${OBJDUMP} -h "${EXE}.debug" OUTPUT_VARIABLE debug_sections)
if(NOT debug_sections MATCHES "\\.debug_info")
  message(FATAL_ERROR "${EXE}.debug holds no debug information")
endif()
message(STATUS "${EXE}: no debug sections; debug information in its .debug file")
