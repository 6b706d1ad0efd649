# cmake -DOBJDUMP=<objdump> -DEXE=<engine stub> -DLIMIT=<bytes> -P stub_size.cmake
# The engine stub as shipped (stripped, its debug information in <stub>.debug)
# stays within LIMIT bytes; every installer made from it starts at that size
# before its payload, skin and scripts.
if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "missing: ${EXE}")
endif()
if(NOT LIMIT MATCHES "^[0-9]+$")
  message(FATAL_ERROR "LIMIT must be a number of bytes, not '${LIMIT}'")
endif()
file(SIZE "${EXE}" size)
execute_process(COMMAND ${OBJDUMP} -h "${EXE}" OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -h ${EXE} failed (${rc})")
endif()
# Measured as shipped: a stub that still carries debug sections is not the
# file that goes out.
if(sections MATCHES "\\.debug_")
  message(FATAL_ERROR "${EXE} carries debug sections: it is not stripped as shipped")
endif()
math(EXPR kib "${size} / 1024")
if(size GREATER LIMIT)
  math(EXPR over "${size} - ${LIMIT}")
  message(FATAL_ERROR "${EXE} is ${size} bytes (${kib} KiB), ${over} bytes over the limit of ${LIMIT}:\n${sections}")
endif()
math(EXPR left "${LIMIT} - ${size}")
message(STATUS "${EXE}: ${size} bytes (${kib} KiB), ${left} bytes below the limit of ${LIMIT}")
