# The Windows zip (make windows-dist, CPack): quorvik.exe, quorvik-term.exe (scripted runs),
# README.txt, LICENSE.txt and the licence of the font the program carries, as
# build-win/quorvik-VERSION-windows-x64.zip.
configure_file(README-windows.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REPLACE "\n" "\r\n" licence "${licence}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt "${licence}")

# The font's own copyright and licence, as the Debian package the font comes from states them.
set(QUORVIK_FONT_COPYRIGHT /usr/share/doc/fonts-pc/copyright CACHE FILEPATH
    "The copyright file of the embedded font's package")
file(READ ${QUORVIK_FONT_COPYRIGHT} font_licence)
set(font_licence "quorvik.exe carries the font \"Px IBM VGA9\" (Px_IBM_VGA9.ttf), unmodified,
(c) 2015-2016 VileR, https://int10h.org/oldschool-pc-fonts/, licensed under
CC BY-SA 4.0 (https://creativecommons.org/licenses/by-sa/4.0/). It is used only where
Windows has no \"Terminal\" font. Its copyright and licence as Debian's fonts-pc states them:

${font_licence}")
string(REPLACE "\n" "\r\n" font_licence "${font_licence}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/FONT-LICENSE.txt "${font_licence}")

install(TARGETS quorvik quorvik-term RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
              ${CMAKE_CURRENT_BINARY_DIR}/FONT-LICENSE.txt
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quorvik-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
