# Third-party libraries built by cmake/build-deps.sh into QVR_DEPS_PREFIX. Each
# becomes one interface target named qvr::<name>.
set(QVR_DEPS_PREFIX "" CACHE PATH "Prefix printed by cmake/build-deps.sh")
if(NOT QVR_DEPS_PREFIX OR NOT EXISTS "${QVR_DEPS_PREFIX}/.complete")
  message(FATAL_ERROR "QVR_DEPS_PREFIX must point at a finished cmake/build-deps.sh prefix")
endif()
set(_P "${QVR_DEPS_PREFIX}")

function(qvr_dep name)
  cmake_parse_arguments(D "" "" "INCLUDE;LIBS;DEFS" ${ARGN})
  add_library(qvr_dep_${name} INTERFACE)
  target_include_directories(qvr_dep_${name} SYSTEM INTERFACE ${D_INCLUDE})
  target_link_libraries(qvr_dep_${name} INTERFACE ${D_LIBS})
  target_compile_definitions(qvr_dep_${name} INTERFACE ${D_DEFS})
  add_library(qvr::${name} ALIAS qvr_dep_${name})
endfunction()

qvr_dep(lua INCLUDE ${_P}/include/lua52 LIBS ${_P}/lib/liblua52.a)
qvr_dep(7zdec INCLUDE ${_P}/include/7zip LIBS ${_P}/lib/lib7zdec.a)
qvr_dep(7zenc INCLUDE ${_P}/include/7zip LIBS ${_P}/lib/lib7zenc.a ${_P}/lib/lib7zdec.a)
# The socket, certificate, random-number and GDI+ DLLs are bound on first use
# (qvr_lazy_<dll>, nqpublic/nqbase/lazyimport): a silent run does not load them.
include(${CMAKE_SOURCE_DIR}/nqpublic/nqbase/lazyimport/lazyimport.cmake)
qvr_dep(curl INCLUDE ${_P}/include LIBS ${_P}/lib/libcurl.a qvr_lazy_ws2_32 ws2_32 qvr_lazy_crypt32 crypt32
        qvr_lazy_bcrypt bcrypt secur32 advapi32
        iphlpapi
        DEFS CURL_STATICLIB)
qvr_dep(nanosvg INCLUDE ${_P}/include/nanosvg)
qvr_dep(stb INCLUDE ${_P}/include/stb)
qvr_dep(zlib INCLUDE ${_P}/include/zlib LIBS ${_P}/lib/libz.a)
qvr_dep(gtest INCLUDE ${_P}/include LIBS ${_P}/lib/libgmock.a ${_P}/lib/libgtest.a)
qvr_dep(gtest_main INCLUDE ${_P}/include LIBS ${_P}/lib/libgtest_main.a qvr::gtest)

set(QVR_LUAC "${_P}/bin/luac52.exe")
