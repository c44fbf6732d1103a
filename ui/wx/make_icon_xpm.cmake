# Turns the text picture of the program icon into XPM data, a C array the toolkit builds the
# icon from, so the window shows the same picture as the Windows resource.
#
#   cmake -DPICTURE=ui/korvan_icon.txt -DOUTPUT=korvan_icon_xpm.h -P make_icon_xpm.cmake

include(${CMAKE_CURRENT_LIST_DIR}/../icon_picture.cmake)
read_icon_picture("${PICTURE}")

set(text "// Generated from ${PICTURE} by make_icon_xpm.cmake; do not edit.\n")
string(APPEND text "static const char* const korvan_icon_xpm[] = {\n")
string(APPEND text "    \"${SIZE} ${SIZE} 17 1\",\n    \". c None\",\n")
set(digits 0 1 2 3 4 5 6 7 8 9 A B C D E F)
foreach(index RANGE 15)
    list(GET digits ${index} digit)
    string(APPEND text "    \"${digit} c #${color_${index}}\",\n")
endforeach()
foreach(row IN LISTS rows)
    string(APPEND text "    \"${row}\",\n")
endforeach()
string(APPEND text "};\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
