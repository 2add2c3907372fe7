# SQLite and libpq for Windows: the static libraries that scripts/db-windows keeps in its
# cache folder. Included before ZB_DATABASE_REPORTS is declared: the database reports are on
# by default when the folder is there.
set(ZB_DB_WINDOWS_DIR "" CACHE PATH
    "SQLite and libpq for Windows; empty for the folder scripts/db-windows builds")
if(ZB_DB_WINDOWS_DIR)
  set(zb_db_dir ${ZB_DB_WINDOWS_DIR})
else()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/db-windows --path
                  OUTPUT_VARIABLE zb_db_dir RESULT_VARIABLE zb_db_missing
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(zb_db_missing)
    set(zb_db_wanted ${zb_db_dir})
    set(zb_db_dir "")
  endif()
endif()
if(zb_db_dir AND EXISTS ${zb_db_dir}/lib/libpq-windows-libraries.txt)
  set(zb_database_default ON)
else()
  set(zb_database_default OFF)
endif()

# Points the search for SQLite3 and PostgreSQL at the folder. A folder of other versions has
# another name: what an earlier configure found in it is searched again.
macro(zb_db_windows_find)
  if(ZB_DB_WINDOWS_DIR AND NOT zb_database_default)
    message(FATAL_ERROR "${ZB_DB_WINDOWS_DIR} holds no SQLite and libpq for Windows")
  elseif(NOT zb_database_default)
    message(FATAL_ERROR "SQLite and libpq for Windows are not built yet. Run scripts/db-windows "
                        "once (it builds ${zb_db_wanted}), or configure with "
                        "-DZB_DATABASE_REPORTS=OFF.")
  endif()
  foreach(var SQLite3_INCLUDE_DIR SQLite3_LIBRARY PostgreSQL_INCLUDE_DIR PostgreSQL_LIBRARY
              PostgreSQL_LIBRARY_RELEASE PostgreSQL_LIBRARY_DEBUG PostgreSQL_TYPE_INCLUDE_DIR)
    if(DEFINED CACHE{${var}})
      cmake_path(IS_PREFIX zb_db_dir "${${var}}" zb_db_inside)
      if(NOT zb_db_inside)
        unset(${var} CACHE)
      endif()
    endif()
  endforeach()
  # Before the compiler's own root, so that no other build of the two libraries is taken.
  list(PREPEND CMAKE_FIND_ROOT_PATH ${zb_db_dir})
  message(STATUS "SQLite and libpq for Windows: ${zb_db_dir}")
endmacro()

# libpq's static library needs PostgreSQL's common and port code and some Windows libraries,
# which its DLL would have carried.
function(zb_db_windows_link)
  file(STRINGS ${zb_db_dir}/lib/libpq-windows-libraries.txt system_libraries)
  set_property(TARGET PostgreSQL::PostgreSQL APPEND PROPERTY INTERFACE_LINK_LIBRARIES
               ${zb_db_dir}/lib/libpgcommon_shlib.a ${zb_db_dir}/lib/libpgport_shlib.a
               ${system_libraries})
endfunction()
