# cmake -DSOURCE=... -DTARGET=... -P CopyIfMissing.cmake
# Puts the repository's options next to the program once; a user's edits there are kept.
if(NOT EXISTS "${TARGET}")
    get_filename_component(_dir "${TARGET}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${SOURCE}" "${TARGET}")
endif()
