# cmake -DAR=<ar> -DOBJCOPY=<objcopy> -DIN=<libstdc++.a> -DOUT=<lean libstdc++.a> -P LeanStdcxxMake.cmake
# Copies the archive and takes the unwind tables out of the objects that
# implement std::string's instantiations and the exception classes' messages
# (see LeanStdcxx.cmake).
get_filename_component(dir ${OUT} DIRECTORY)
set(work ${dir}/work)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
file(COPY_FILE ${IN} ${work}/libstdc++.a)
# <member>:<sections to remove>
set(members
  "string-inst.o:.eh_frame$*"
  "cow-string-inst.o:.eh_frame*"
  "cow-stdexcept.o:.eh_frame*"
  "random.o:.eh_frame*")
foreach(entry ${members})
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 m)
  list(GET parts 1 sections)
  execute_process(COMMAND ${AR} x libstdc++.a ${m} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${work}/${m})
    message(FATAL_ERROR "libstdc++.a has no ${m}")
  endif()
  execute_process(COMMAND ${OBJCOPY} --remove-section=${sections} ${m} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objcopy failed on ${m}")
  endif()
  execute_process(COMMAND ${AR} r libstdc++.a ${m} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ar could not put ${m} back")
  endif()
endforeach()
file(RENAME ${work}/libstdc++.a ${OUT})
file(REMOVE_RECURSE ${work})
