# cmake -DIN=<a;b;...> -DOUT=<file> -P Concat.cmake: OUT = the files of IN, in
# order, each followed by a line break.
file(WRITE ${OUT} "")
foreach(f ${IN})
  file(READ ${f} text)
  file(APPEND ${OUT} "${text}\n")
endforeach()
