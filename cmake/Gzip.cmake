# cmake -DSOURCE=... -DTARGET=... -P Gzip.cmake
# Compresses as Debian keeps manual pages and package documents: best compression, and no file
# name or time stamp inside, so the same source always gives the same bytes.
find_program(_gzip gzip REQUIRED)
execute_process(COMMAND ${_gzip} -9nc "${SOURCE}" OUTPUT_FILE "${TARGET}" RESULT_VARIABLE _failed)
if(_failed)
    file(REMOVE "${TARGET}")
    message(FATAL_ERROR "gzip could not compress ${SOURCE}")
endif()
