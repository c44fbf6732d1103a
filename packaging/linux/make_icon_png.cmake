# Turns the text picture of the program icon into a PNG of the hicolor icon theme, scaled
# from its 32 by 32 pixels to SIZE by SIZE. The picture becomes an XPM (the same palette
# digits and "." for transparent) that ImageMagick reads and scales.
#
#   cmake -DPICTURE=korvan_icon.txt -DSIZE=48 -DCONVERT=/usr/bin/convert -DOUTPUT=icon.png
#         -P make_icon_png.cmake

file(STRINGS "${PICTURE}" lines)
set(colors "")
set(rows "")
foreach(line IN LISTS lines)
    if(line MATCHES "^color ([0-9A-F]) ([0-9A-Fa-f]+)$")
        list(APPEND colors "\"${CMAKE_MATCH_1} c #${CMAKE_MATCH_2}\",")
    elseif(line MATCHES "^[.0-9A-F]+$")
        list(APPEND rows "\"${line}\",")
    endif()
endforeach()
list(LENGTH colors color_count)
list(LENGTH rows height)
list(GET rows 0 first_row)
string(LENGTH "${first_row}" width)
math(EXPR width "${width} - 3")
math(EXPR palette_size "${color_count} + 1")
list(JOIN colors "\n" color_text)
list(JOIN rows "\n" row_text)
string(REGEX REPLACE ",$" "" row_text "${row_text}")

get_filename_component(stem "${OUTPUT}" NAME_WE)
set(xpm "${OUTPUT}.xpm")
file(WRITE "${xpm}"
     "/* XPM */\nstatic char *${stem}[] = {\n\"${width} ${height} ${palette_size} 1\",\n"
     "\". c None\",\n${color_text}\n${row_text}\n};\n")

# Whole multiples keep the pixels sharp; other sizes are averaged. No time stamps, so the
# same picture always gives the same file.
math(EXPR whole_multiple "${SIZE} % ${width}")
if(whole_multiple EQUAL 0)
    set(resize -sample ${SIZE}x${SIZE})
else()
    set(resize -scale ${SIZE}x${SIZE})
endif()
execute_process(
    COMMAND "${CONVERT}" "${xpm}" ${resize} -strip -define png:exclude-chunks=date,time
            "PNG32:${OUTPUT}"
    RESULT_VARIABLE result)
file(REMOVE "${xpm}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${CONVERT} could not make ${OUTPUT} from ${PICTURE}")
endif()
