# Writes a document compressed the way Debian installs documents, run with
# cmake -P at build time:
#   -DGZIP=<gzip> -DINPUT=<file> -DOUTPUT=<file.gz>
# With -DSCDOC=<scdoc> -DVERSION=<x.y.z>, INPUT is a manual page's scdoc source
# (@PROJECT_VERSION@ replaced by VERSION) and OUTPUT its compressed page.
foreach(var GZIP INPUT OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "GzipDoc.cmake: ${var} is not set")
  endif()
endforeach()

set(plain ${INPUT})
if(DEFINED SCDOC)
  string(REGEX REPLACE "\\.gz$" "" plain ${OUTPUT})
  set(PROJECT_VERSION ${VERSION})
  configure_file(${INPUT} ${plain}.scd @ONLY)
  execute_process(COMMAND ${SCDOC} INPUT_FILE ${plain}.scd OUTPUT_FILE ${plain}
                  ERROR_VARIABLE error RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${plain})
    message(FATAL_ERROR "scdoc cannot read ${INPUT}: ${error}")
  endif()
endif()
# -n leaves the name and the time out of the header: the same text always
# gives the same bytes.
execute_process(COMMAND ${GZIP} -9 -n -c INPUT_FILE ${plain} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip cannot compress ${plain}")
endif()
