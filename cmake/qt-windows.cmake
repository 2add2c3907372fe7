# Qt for Windows: the build that scripts/qt-windows keeps in its cache folder (its DLLs and
# CMake packages), with the host's Qt tools (moc, rcc, uic) from /usr.
set(ZB_QT_WINDOWS_DIR "" CACHE PATH
    "Qt for Windows; empty for the folder scripts/qt-windows builds")
if(ZB_QT_WINDOWS_DIR)
  set(zb_qt_dir ${ZB_QT_WINDOWS_DIR})
else()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/qt-windows --path
                  OUTPUT_VARIABLE zb_qt_dir RESULT_VARIABLE zb_qt_missing
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(zb_qt_missing)
    message(FATAL_ERROR "Qt for Windows is not built yet. Run scripts/qt-windows once (it "
                        "builds ${zb_qt_dir}), or configure with -DZB_BUILD_UI=OFF.")
  endif()
endif()
if(NOT EXISTS ${zb_qt_dir}/lib/cmake/Qt6/Qt6Config.cmake)
  message(FATAL_ERROR "${zb_qt_dir} holds no Qt for Windows")
endif()
# The toolchain searches packages only under its roots.
list(APPEND CMAKE_FIND_ROOT_PATH ${zb_qt_dir})
set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, whose tools the cross build runs")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
    "The host Qt's CMake packages (Debian's)")
message(STATUS "Qt for Windows: ${zb_qt_dir}")
