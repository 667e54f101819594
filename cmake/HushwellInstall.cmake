# What `cmake --install` puts under the prefix besides the two programs, and the Debian
# package CPack builds from it (scripts/package). Included by app/CMakeLists.txt, so only
# builds with the program have it.
include(GNUInstallDirs)

set(HUSHWELL_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(HUSHWELL_ICON_SVG ${HUSHWELL_RESOURCES}/hushwell.svg)
# The desktop file id, the icon name and the metainfo's launchable share this name.
set(HUSHWELL_DESKTOP_ID hushwell)
set(HUSHWELL_APPSTREAM_ID io.github.hushwell.Hushwell)
# The program looks for its manual here when it is not beside it (app/ProgramPaths).
set(HUSHWELL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/hushwell)

install(FILES ${HUSHWELL_MANUAL} DESTINATION ${HUSHWELL_DOC_DIR})
# The licence as Debian expects it: a machine-readable copyright file beside the manual, which
# names GPL-3.0-or-later and points to the full text among the system's common licences.
install(FILES ${HUSHWELL_RESOURCES}/copyright DESTINATION ${HUSHWELL_DOC_DIR})
install(FILES ${HUSHWELL_RESOURCES}/${HUSHWELL_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${HUSHWELL_RESOURCES}/${HUSHWELL_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages, compressed as Debian installs them.
find_program(GZIP gzip REQUIRED)
set(man_files)
foreach(page hushwell.1 hushwell-scan.1)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${HUSHWELL_RESOURCES}/man/${page} ${copy}
        COMMAND ${GZIP} -9nf ${copy}
        DEPENDS ${HUSHWELL_RESOURCES}/man/${page}
        VERBATIM)
    list(APPEND man_files ${copy}.gz)
endforeach()
add_custom_target(hushwell_man_pages ALL DEPENDS ${man_files})
install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Icons in the hicolor theme: the SVG as it is, and PNGs of the usual sizes rendered from it.
install(FILES ${HUSHWELL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${HUSHWELL_DESKTOP_ID}.svg)
set(HUSHWELL_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
    set(icon_files)
    foreach(size ${HUSHWELL_ICON_SIZES})
        set(folder ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size})
        set(png ${folder}/${HUSHWELL_DESKTOP_ID}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
            COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${png}
                    ${HUSHWELL_ICON_SVG}
            DEPENDS ${HUSHWELL_ICON_SVG}
            COMMENT "Rendering the ${size}x${size} icon"
            VERBATIM)
        list(APPEND icon_files ${png})
        install(FILES ${png}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(hushwell_icons ALL DEPENDS ${icon_files})
else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
endif()

# The Debian package, installing under /usr whatever the build's own prefix (scripts/package).
set(CPACK_PACKAGE_NAME hushwell)
set(CPACK_PACKAGE_VENDOR "Hushwell developers")
set(CPACK_PACKAGE_CONTACT "Hushwell developers <hushwell@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Mutes or turns down the sound when it hears one of your sounds")
set(CPACK_PACKAGE_DESCRIPTION
    "Hushwell records the default audio output in loopback, recognises reference sounds you
registered, watches clock times and loudness, and then mutes, unmutes, ramps the volume or
runs a command for a while before undoing it. It lives in the system tray. The package also
holds hushwell-scan, which runs the same detection over WAV recordings.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/hushwell/hushwell")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME hushwell)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The library packages the programs link to, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
set(CPACK_GENERATOR DEB)
include(CPack)
