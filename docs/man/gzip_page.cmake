# Writes one manual page gzipped, with the product's version in its title line.
# cmake -DIN=<page> -DOUT=<page>.gz -DVERSION=<x.y.z> -DGZIP=<gzip> -P gzip_page.cmake
file(READ ${IN} text)
string(REGEX MATCH "^\\.TH [^\n]*\"zbconfig [^\"]*\"" title "${text}")
if(NOT title)
  message(FATAL_ERROR "${IN}: the first line must be .TH with the source \"zbconfig VERSION\"")
endif()
string(REGEX REPLACE "^(\\.TH [^\n]*\"zbconfig )[^\"]*\"" "\\1${VERSION}\"" text "${text}")
string(REGEX REPLACE "\\.gz$" "" plain ${OUT})
file(WRITE ${plain} "${text}")
# -n leaves out the name and time stamp, so that equal pages give equal files.
execute_process(COMMAND ${GZIP} -9n -c ${plain} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "${GZIP} failed on ${plain}: ${status}")
endif()
