# Installs the build into a fresh prefix and checks that it holds exactly the files a desktop expects, and that
# the AppStream metainfo and the desktop entry validate where the validators are installed.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -P InstallTree.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
set(expected
  bin/kelvo
  lib/kelvo/libkelvo-tray.so
  share/applications/app.kelvo.Kelvo.desktop
  share/bash-completion/completions/kelvo
  share/fish/vendor_completions.d/kelvo.fish
  share/icons/hicolor/48x48/apps/app.kelvo.Kelvo.png
  share/icons/hicolor/scalable/apps/app.kelvo.Kelvo.svg
  share/metainfo/app.kelvo.Kelvo.metainfo.xml
  share/zsh/site-functions/_kelvo
)
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/../docs/kelvo.1")
  list(APPEND expected share/man/man1/kelvo.1.gz)
  list(SORT expected)
endif()
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "install tree differs.\n expected: ${expected}\n installed: ${installed}")
endif()
execute_process(COMMAND test -x "${PREFIX}/bin/kelvo" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "bin/kelvo is not executable")
endif()

# The installed program finds its own tray library, not the build's: with no display, it is the library that says so.
execute_process(COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LD_DEBUG=files "${PREFIX}/bin/kelvo"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
string(FIND "${output}" "calling init: ${PREFIX}/bin/../lib/kelvo/libkelvo-tray.so" loaded)
if(loaded EQUAL -1 OR NOT output MATCHES "needs a graphical desktop")
  message(FATAL_ERROR "the installed kelvo did not start its own tray library:\n${output}")
endif()

find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net --pedantic
                          "${PREFIX}/share/metainfo/app.kelvo.Kelvo.metainfo.xml"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate failed:\n${output}")
  endif()
endif()
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${PREFIX}/share/applications/app.kelvo.Kelvo.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate failed:\n${output}")
  endif()
endif()
message(STATUS "install tree ok")
