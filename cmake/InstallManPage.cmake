# Run by `cmake --install` and CPack, never by the build: makes ombrelux-cli's man page from its
# --help with help2man and installs it gzipped, as Debian wants man pages.
# Set by the caller: OMBRELUX_HELP2MAN, OMBRELUX_CLI, OMBRELUX_MAN_WORK, OMBRELUX_MAN_DIR.
if(NOT OMBRELUX_HELP2MAN)
    message(FATAL_ERROR "help2man is needed to install ombrelux-cli's man page (Debian package help2man)")
endif()
file(MAKE_DIRECTORY "${OMBRELUX_MAN_WORK}")
set(page "${OMBRELUX_MAN_WORK}/ombrelux-cli.1")
execute_process(
    COMMAND "${OMBRELUX_HELP2MAN}" --no-info --section 1
            --name "stack, brighten and subtract photos without a display"
            --output "${page}" "${OMBRELUX_CLI}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man could not make the man page from ${OMBRELUX_CLI} --help")
endif()
# -n keeps the name and time out of the archive, so the same page packs to the same bytes.
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${page}")
endif()
file(INSTALL "${page}.gz" DESTINATION "${CMAKE_INSTALL_PREFIX}/${OMBRELUX_MAN_DIR}")
