# Fails unless the first <release> of FILE names VERSION.
file(READ ${FILE} text)
string(REGEX MATCH "<release [^>]*version=\"([^\"]*)\"" found "${text}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "${FILE}: newest release is '${CMAKE_MATCH_1}', the product is ${VERSION}")
endif()
