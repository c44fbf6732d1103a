# Renders a manual page as plain text with Windows line ends, to be read with any editor
# where there is no man:
#   cmake -DGROFF=groff -DPAGE=korvan-download.1 -DOUTPUT=korvan-download.txt -P render_text.cmake
# One long page, without bold or underline, which an editor would show as stray
# characters.
execute_process(
    COMMAND ${GROFF} -man -Tascii -ww -rcR=1 -P-cbou ${PAGE}
    OUTPUT_VARIABLE text
    ERROR_VARIABLE problems
    RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT problems STREQUAL "")
    message(FATAL_ERROR "groff ${PAGE}: status ${status}\n${problems}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
