# Run by CPack on the files about to be packaged: compresses the manual pages with gzip
# (no name or time stored, so the same pages make the same bytes).
file(GLOB_RECURSE files "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER files INCLUDE REGEX "/man/man[1-9]/[^/]+\\.[1-9]$")
foreach(page ${files})
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot compress ${page}")
  endif()
endforeach()
