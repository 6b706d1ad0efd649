# The C++ runtime the shipped engine links: the toolchain's static libstdc++
# with the unwind tables taken out of the objects behind std::string's
# instantiations and the messages of the standard exception classes.
#
# The linker keeps every unwind table (.eh_frame*) it is given, and an unwind
# table keeps every function it describes. The library's explicit
# instantiations of std::string (the SSO one, and the copy-on-write one the
# exception classes keep their messages in), the message storage of
# std::logic_error and std::runtime_error (with its transactional-memory
# copies) and std::random_device (which the copy-on-write instantiation names)
# came whole into the engine, about 75 KB,
# although it calls a handful of their functions. Without their unwind tables
# --gc-sections drops the rest.
#
# What changes: an exception raised inside one of those few functions
# (std::bad_alloc while an exception's message is allocated or copied)
# cannot unwind through that frame and ends the process, as an uncaught
# exception would. Exceptions raised elsewhere, the standard exceptions among
# them, are thrown and caught as before (tests/spine/lean_runtime.cpp).
# std::system_error keeps its tables: the library raises it from that object.
# The engine's own string code is compiled into its objects (C++20)
# and keeps its unwind tables.
#
# qvr_use_lean_stdcxx(<target>) makes <target> link it.

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.a
                OUTPUT_VARIABLE QVR_STDCXX_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${QVR_STDCXX_ARCHIVE}" OR NOT EXISTS "${QVR_STDCXX_ARCHIVE}")
  message(FATAL_ERROR "the compiler names no static libstdc++ (${QVR_STDCXX_ARCHIVE})")
endif()
set(QVR_LEAN_STDCXX_DIR ${CMAKE_BINARY_DIR}/leanstdcxx)
set(QVR_LEAN_STDCXX ${QVR_LEAN_STDCXX_DIR}/libstdc++.a)
add_custom_command(OUTPUT ${QVR_LEAN_STDCXX}
  COMMAND ${CMAKE_COMMAND} -DAR=${CMAKE_AR} -DOBJCOPY=${CMAKE_OBJCOPY} -DIN=${QVR_STDCXX_ARCHIVE}
          -DOUT=${QVR_LEAN_STDCXX} -P ${CMAKE_CURRENT_LIST_DIR}/LeanStdcxxMake.cmake
  DEPENDS ${QVR_STDCXX_ARCHIVE} ${CMAKE_CURRENT_LIST_DIR}/LeanStdcxxMake.cmake
  COMMENT "Lean libstdc++ for the engine"
  VERBATIM)
add_custom_target(lean_stdcxx DEPENDS ${QVR_LEAN_STDCXX})

function(qvr_use_lean_stdcxx target)
  add_dependencies(${target} lean_stdcxx)
  # g++ searches -L folders before its own for the -lstdc++ it adds.
  target_link_directories(${target} BEFORE PRIVATE ${QVR_LEAN_STDCXX_DIR})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QVR_LEAN_STDCXX})
endfunction()
