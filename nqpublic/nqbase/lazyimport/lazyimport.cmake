# qvr_lazy_<dll> (qvr_lazy_ws2_32, qvr_lazy_gdiplus, ...): for each DLL of
# imports.txt a static library with one object per function, so that the
# linker takes only the functions a program calls. Link it right before the
# DLL's own import library: a function it provides is then bound lazily
# (lazyimport.cpp), the others as usual.
set(_qvr_lazy_dir ${CMAKE_CURRENT_LIST_DIR})
set(_qvr_lazy_gen ${CMAKE_BINARY_DIR}/lazyimport)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_qvr_lazy_dir}/imports.txt)
file(STRINGS ${_qvr_lazy_dir}/imports.txt _qvr_lazy_lines REGEX "^[^#]")
add_library(qvr_lazyimport_core STATIC ${_qvr_lazy_dir}/lazyimport.cpp)
set(_qvr_lazy_dlls "")
foreach(line ${_qvr_lazy_lines})
  string(REGEX MATCH "^([^ ]+) +(([A-Za-z_0-9]+)@([0-9]+))$" _ok "${line}")
  if(NOT _ok)
    message(FATAL_ERROR "imports.txt: cannot read '${line}'")
  endif()
  set(dll ${CMAKE_MATCH_1})
  set(sym ${CMAKE_MATCH_2})
  set(name ${CMAKE_MATCH_3})
  string(REGEX REPLACE "\\.dll$" "" lib "${dll}")
  # The slot the compiler calls through, the plain name a call without
  # dllimport goes to, the record, and the stub the slot first points at.
  set(code "/* Generated from imports.txt by lazyimport.cmake. */
__asm__(
    \".data\\n\"
    \".globl __imp__${sym}\\n\"
    \".p2align 2\\n\"
    \"__imp__${sym}:\\n\"
    \"    .long Lstub\\n\"
    \"Lrecord:\\n\"
    \"    .long __qvr_lazy_dll_${lib}, Lname, __imp__${sym}\\n\"
    \".section .rdata$qvr_lazy_dll_${lib},\\\"dr\\\"\\n\"
    \".linkonce discard\\n\"
    \".globl __qvr_lazy_dll_${lib}\\n\"
    \"__qvr_lazy_dll_${lib}:\\n\"
    \"    .asciz \\\"${dll}\\\"\\n\"
    \".section .rdata,\\\"dr\\\"\\n\"
    \"Lname:\\n\"
    \"    .asciz \\\"${name}\\\"\\n\"
    \".text\\n\"
    \".globl _${sym}\\n\"
    \"_${sym}:\\n\"
    \"    jmp *__imp__${sym}\\n\"
    \"Lstub:\\n\"
    \"    pushl $Lrecord\\n\"
    \"    jmp ___qvr_lazy_enter\\n\");
")
  set(file ${_qvr_lazy_gen}/${name}.c)
  if(EXISTS ${file})
    file(READ ${file} old)
  else()
    set(old "")
  endif()
  if(NOT old STREQUAL code)
    file(WRITE ${file} "${code}")
  endif()
  list(APPEND _qvr_lazy_${lib} ${file})
  list(APPEND _qvr_lazy_dlls ${lib})
endforeach()
list(REMOVE_DUPLICATES _qvr_lazy_dlls)
foreach(lib ${_qvr_lazy_dlls})
  add_library(qvr_lazy_${lib} STATIC ${_qvr_lazy_${lib}})
  target_link_libraries(qvr_lazy_${lib} PUBLIC qvr_lazyimport_core)
endforeach()
