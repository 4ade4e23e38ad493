# What `cmake --install` puts under the prefix: the programs, the menu entry with its icons,
# the AppStream metainfo, the service's systemd unit with its system user, and the package's
# documents. Packaging (cmake/Package.cmake) takes the same files.
include(GNUInstallDirs)

set(TIDEWELL_SYSTEMD_SYSTEM_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the web-folder service's systemd unit goes (relative: under the prefix)")
set(TIDEWELL_SYSUSERS_DIR "lib/sysusers.d"
    CACHE STRING "Where the service's sysusers.d entry goes (relative: under the prefix)")

# The desktop program installs itself (tidewell/app); the companions are installed here.
install(TARGETS tidewell-cli tidewell-archive tidewell-webfolder)

install(FILES desktop/tidewell.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES desktop/tidewell.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES desktop/tidewell.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Menus and panels that take no SVG get pictures made from the same drawing at build time.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_pngs)
foreach(size 48 128)
    set(png ${CMAKE_BINARY_DIR}/desktop/icons/${size}/tidewell.png)
    add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/desktop/icons/${size}
        COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png}
                ${PROJECT_SOURCE_DIR}/desktop/tidewell.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/desktop/tidewell.svg
        COMMENT "Icon ${size}x${size} from desktop/tidewell.svg"
        VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(tidewell_icons ALL DEPENDS ${icon_pngs})

# The service's unit as deployed by hand names /usr/local/bin; installed, it names our bindir.
set(unit_source ${PROJECT_SOURCE_DIR}/server/deploy/tidewell-webfolder.service)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${unit_source})
file(READ ${unit_source} unit_text)
string(REPLACE "/usr/local/bin/tidewell-webfolder" "${CMAKE_INSTALL_FULL_BINDIR}/tidewell-webfolder"
       unit_text "${unit_text}")
file(WRITE ${CMAKE_BINARY_DIR}/desktop/tidewell-webfolder.service "${unit_text}")
install(FILES ${CMAKE_BINARY_DIR}/desktop/tidewell-webfolder.service
        DESTINATION ${TIDEWELL_SYSTEMD_SYSTEM_UNIT_DIR})
install(FILES desktop/sysusers-tidewell-webfolder.conf
        DESTINATION ${TIDEWELL_SYSUSERS_DIR} RENAME tidewell-webfolder.conf)

install(FILES desktop/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell)
