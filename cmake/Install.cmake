# What `cmake --install` puts under the prefix, in two components, one per package
# (cmake/Package.cmake); `--component desktop` or `--component webfolder` installs one of them.
#   desktop    the window, tidewell-cli, tidewell-archive, the menu entry, icons, AppStream
#   webfolder  the web-folder service, its systemd unit and system user, the deploy examples
#              and the service's README
# Whatever installs without naming a component is the desktop's (CMakeLists.txt).
include(GNUInstallDirs)

# The AppStream id; the menu entry and the icon go by the same name.
set(TIDEWELL_APP_ID org.example.tidewell)

set(TIDEWELL_SYSTEMD_SYSTEM_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the web-folder service's systemd unit goes (relative: under the prefix)")
set(TIDEWELL_SYSUSERS_DIR "lib/sysusers.d"
    CACHE STRING "Where the service's sysusers.d entry goes (relative: under the prefix)")

# ---------------------------------------------------------------------------------------
# desktop (the program itself installs from tidewell/app)

install(TARGETS tidewell-cli tidewell-archive COMPONENT desktop)
install(FILES desktop/${TIDEWELL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
install(FILES desktop/${TIDEWELL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT desktop)
install(FILES desktop/tidewell.svg RENAME ${TIDEWELL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)

# Menus and panels that take no SVG get pictures of the usual sizes, made at build time from
# the drawings the window uses too: the plainer one up to 24 px, where the full one blurs.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(TIDEWELL_ICON_SIZES 16 22 24 32 48 64 128 256)
set(icon_pngs)
foreach(size ${TIDEWELL_ICON_SIZES})
    set(drawing ${PROJECT_SOURCE_DIR}/desktop/tidewell.svg)
    if(size LESS_EQUAL 24)
        set(drawing ${PROJECT_SOURCE_DIR}/desktop/tidewell-small.svg)
    endif()
    set(png ${CMAKE_BINARY_DIR}/desktop/icons/${size}/${TIDEWELL_APP_ID}.png)
    add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/desktop/icons/${size}
        COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${drawing}
        DEPENDS ${drawing}
        COMMENT "Icon ${size}x${size}"
        VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT desktop)
endforeach()
add_custom_target(tidewell_icons ALL DEPENDS ${icon_pngs})

install(FILES packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell COMPONENT desktop)

# ---------------------------------------------------------------------------------------
# webfolder

install(TARGETS tidewell-webfolder COMPONENT webfolder)

# The unit as deployed by hand names /usr/local/bin; installed, it names the program where this
# installation puts it. The prefix is known only when installing (`cmake --install --prefix`),
# so the unit is written then.
install(CODE "
    set(tidewell_unit_source [[${PROJECT_SOURCE_DIR}/server/deploy/tidewell-webfolder.service]])
    set(tidewell_unit_written [[${CMAKE_BINARY_DIR}/desktop/unit/tidewell-webfolder.service]])
    set(tidewell_unit_bindir [[${CMAKE_INSTALL_BINDIR}]])
    set(tidewell_unit_dir [[${TIDEWELL_SYSTEMD_SYSTEM_UNIT_DIR}]])
    set(tidewell_unit_docs [[${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell-webfolder]])
    include([[${PROJECT_SOURCE_DIR}/cmake/InstallServiceUnit.cmake]])
" COMPONENT webfolder)
install(FILES packaging/tidewell-webfolder.sysusers RENAME tidewell-webfolder.conf
        DESTINATION ${TIDEWELL_SYSUSERS_DIR} COMPONENT webfolder)

install(FILES server/README.md packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell-webfolder COMPONENT webfolder)
install(DIRECTORY server/deploy/
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell-webfolder/examples
        COMPONENT webfolder)
