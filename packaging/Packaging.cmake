# What an installation holds beside the program and its module (src/CMakeLists.txt), and the
# Debian package that scripts/package builds from it with CPack.
set(MORVANE_APP_ID org.morvane.Morvane)
set(res ${PROJECT_SOURCE_DIR}/resources)

# The entry names the installed program by its absolute path, wherever it is installed: KWin
# authorises its screenshot interface by that path.
file(READ ${res}/${MORVANE_APP_ID}.desktop desktop_entry)
string(REPLACE "Exec=/usr/bin/morvane" "Exec=${CMAKE_INSTALL_FULL_BINDIR}/morvane" desktop_entry
       "${desktop_entry}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/${MORVANE_APP_ID}.desktop "${desktop_entry}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${res}/${MORVANE_APP_ID}.desktop)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${MORVANE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${res}/${MORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${res}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Debian wants manual pages and changelogs compressed, reproducibly (no name, no time stamp).
set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging)
add_custom_command(
    OUTPUT ${gz}/morvane.1.gz ${gz}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gz}
    COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/morvane.1 > ${gz}/morvane.1.gz
    COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog > ${gz}/changelog.gz
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/morvane.1 ${CMAKE_CURRENT_LIST_DIR}/changelog
    VERBATIM)
add_custom_target(compressed_docs ALL DEPENDS ${gz}/morvane.1.gz ${gz}/changelog.gz)
install(FILES ${gz}/morvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${gz}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/morvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Morvane developers <morvane@morvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen capture utility with a global hotkey")
# CPack puts the summary first and indents each line; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Morvane waits in the notification area for one system-wide hotkey (Ctrl+S
unless set otherwise) and captures the whole screen, the control under the
pointer, its container or its window, or a whole web page scrolled and
stitched together. Each capture goes to the clipboard and into a numbered
BMP file in the chosen folder. A crop window cuts a part out of a bitmap.

The interface is in Simplified Chinese. Morvane runs on X11 desktops and in
the Wayland sessions of KDE Plasma, sway and GNOME (full screen only).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvane.org/")
# The libraries come from the binaries (dpkg-shlibdeps); Qt's X11 and Wayland platform
# plugins, a font with the Chinese glyphs and Qt's own Chinese texts are loaded at run time,
# so no library names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-wayland, fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
