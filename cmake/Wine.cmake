# Everything that runs Windows programs on the build machine goes through one
# wrapper, <build>/wine-run, with a Wine prefix owned by the build tree.
find_program(QVR_WINE wine REQUIRED)
set(QVR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(QVR_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${QVR_WINE_RUN} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${QVR_WINE_RUN}")

# The prefix is created once, at build time, before anything runs in it.
set(QVR_WINEPREFIX_STAMP "${QVR_WINEPREFIX}/.qvr-ready")
add_custom_command(OUTPUT ${QVR_WINEPREFIX_STAMP}
  COMMAND ${QVR_WINE_RUN} wineboot -i
  COMMAND ${QVR_WINE_RUN} --wait
  COMMAND ${CMAKE_COMMAND} -E touch ${QVR_WINEPREFIX_STAMP}
  COMMENT "Creating the Wine prefix"
  VERBATIM)

# Chinese text: the CJK font installed into the prefix, with the Chinese
# Windows faces and the dialog faces mapped onto it (cmake/wine-fonts.py).
# A stamp of its own, so that a prefix made before this step gets it too.
find_file(QVR_CJK_FONT wqy-microhei.ttc PATHS /usr/share/fonts/truetype/wqy
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QVR_CJK_FONT)
  message(FATAL_ERROR "wqy-microhei.ttc not found: Wine would draw Chinese text as boxes. "
                      "Install the Debian package fonts-wqy-microhei (cmake/setup-system.sh does).")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QVR_WINEPREFIX_FONTS_STAMP "${QVR_WINEPREFIX}/.qvr-fonts")
add_custom_command(OUTPUT ${QVR_WINEPREFIX_FONTS_STAMP}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/wine-fonts.py --wine-run ${QVR_WINE_RUN}
          --prefix ${QVR_WINEPREFIX} --font ${QVR_CJK_FONT} --family "WenQuanYi Micro Hei"
          --stamp ${QVR_WINEPREFIX_FONTS_STAMP}
  DEPENDS ${QVR_WINEPREFIX_STAMP} ${CMAKE_SOURCE_DIR}/cmake/wine-fonts.py ${QVR_CJK_FONT}
  COMMENT "Chinese fonts in the Wine prefix"
  VERBATIM)
add_custom_target(wineprefix ALL DEPENDS ${QVR_WINEPREFIX_STAMP} ${QVR_WINEPREFIX_FONTS_STAMP})

# qvr_compile_lua(<out-var> <source.lua>...): Lua 5.2 bytecode with the 32-bit
# layout, made by the target's own luac under Wine. The chunk's source name is
# the file name alone.
function(qvr_compile_lua out)
  set(outs)
  foreach(src ${ARGN})
    get_filename_component(abs "${src}" ABSOLUTE)
    get_filename_component(dir "${abs}" DIRECTORY)
    get_filename_component(name "${abs}" NAME)
    get_filename_component(stem "${abs}" NAME_WE)
    file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${dir}")
    string(REPLACE "/" "_" rel "${rel}")
    set(luac "${CMAKE_BINARY_DIR}/luac/${rel}/${stem}.luac")
    add_custom_command(OUTPUT ${luac}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/luac/${rel}
      COMMAND ${QVR_WINE_RUN} ${QVR_LUAC} -o Z:${luac} ${name}
      WORKING_DIRECTORY ${dir}
      DEPENDS ${abs} ${QVR_WINEPREFIX_STAMP}
      COMMENT "luac ${name}"
      VERBATIM)
    list(APPEND outs ${luac})
  endforeach()
  set(${out} ${outs} PARENT_SCOPE)
endfunction()

# qvr_add_test(<name> COMMAND <cmd>... [LOCALE <locale>] [GUI] [TIMEOUT <s>] [LABELS ...])
# A target executable as the command runs under Wine through the emulator.
# LOCALE picks the ANSI code page (zh_CN.UTF-8 gives 936, the default here).
function(qvr_add_test name)
  cmake_parse_arguments(T "GUI" "LOCALE;TIMEOUT;WORKING_DIRECTORY" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_LOCALE)
    set(T_LOCALE zh_CN.UTF-8)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "LC_ALL=${T_LOCALE};QVR_WINE_RUN=${QVR_WINE_RUN};QVR_BUILD_DIR=${CMAKE_BINARY_DIR};${T_ENVIRONMENT}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_GUI)
    # Tests that show windows or message boxes share the one X display.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK display)
  endif()
endfunction()
