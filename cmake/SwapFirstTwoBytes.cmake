# Copies IN to OUT with the first two bytes exchanged (how the installer
# stores its payload resource).
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
execute_process(COMMAND python3 -c
  "import sys; d=open(sys.argv[1],'rb').read(); assert len(d)>=2, 'too short'; open(sys.argv[2],'wb').write(d[1:2]+d[0:1]+d[2:])"
  "${IN}" "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write ${OUT} from ${IN}")
endif()
