# cmake -DSOURCE=... -DTARGET=... -P InstalledOptions.cmake
# The installed program's default options: the repository's, talking to the real lamp
# (SIMULATE 0) and without the protocol log (LOG 0), which would otherwise grow without end in
# the user's folder.
file(READ "${SOURCE}" _text)
foreach(_key SIMULATE LOG)
    string(REGEX MATCH "<${_key}>[^<]*</${_key}>" _found "${_text}")
    if(NOT _found)
        message(FATAL_ERROR "${SOURCE} has no ${_key} element")
    endif()
    string(REPLACE "${_found}" "<${_key}>0</${_key}>" _text "${_text}")
endforeach()
file(WRITE "${TARGET}" "${_text}")
