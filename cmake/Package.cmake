# script/package: two .debs through CPack, one per install component (cmake/Install.cmake):
#   tidewell            the desktop program, tidewell-cli, tidewell-archive
#   tidewell-webfolder  the reference web-folder service
# Library dependencies come from dpkg-shlibdeps; the rest are what the programs need at run
# time without linking to it.
set(TIDEWELL_PACKAGE_MAINTAINER "Tidewell developers <tidewell@example.org>"
    CACHE STRING "Maintainer field of the .debs")
# The metainfo's homepage (desktop/), also the packages' Homepage.
set(TIDEWELL_HOMEPAGE "https://tidewell.example.org/")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop webfolder)
set(CPACK_PACKAGE_NAME tidewell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TIDEWELL_PACKAGE_MAINTAINER})
# 2: the service left the tidewell package for a package of its own.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TIDEWELL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(TIDEWELL_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

# ---------------------------------------------------------------------------------------
# tidewell: the desktop

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tidewell)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "web-folder backup client for Quenlow Barcode company data
Tidewell logs the account holder in to the web-folder service, lists the
companies of this computer and of the web folder, and moves each company's
data the way it should travel, keeping a safety copy of what it replaces.
.
The package holds the desktop program (tidewell) with its menu entry,
tidewell-cli for backups without a window (kept login, schedule through a
systemd user timer, desktop notification of a failed scheduled run) and
tidewell-archive for .bck archives. The service is in tidewell-webfolder.")
# The window's Korean font and Qt's display plugins; the keyring, the user's session bus and
# systemd are what tidewell-cli's kept login, notifications and schedule use when there.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "fonts-nanum, qt6-qpa-plugins")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS
    "gnome-keyring | org.freedesktop.secrets, dbus-user-session, systemd")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS "notification-daemon")

# ---------------------------------------------------------------------------------------
# tidewell-webfolder: the service

set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_NAME tidewell-webfolder)
set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_SECTION net)
set(CPACK_COMPONENT_WEBFOLDER_DESCRIPTION
    "reference web-folder service for Tidewell
tidewell-webfolder keeps the accounts, companies and backup archives of
Tidewell clients in one data folder and serves them over HTTP, meant to sit
behind a reverse proxy with TLS.
.
The package holds the service with its systemd unit (installed, not enabled)
and system user, the deployment examples (systemd, nginx) and its README.")
set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_RECOMMENDS "systemd")
# Its program and unit came with tidewell before.
set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_BREAKS "tidewell (<< ${TIDEWELL_DEB_VERSION})")
set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_REPLACES "tidewell (<< ${TIDEWELL_DEB_VERSION})")
set(CPACK_DEBIAN_WEBFOLDER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/tidewell-webfolder/postinst)
# CPack names maintainer scripts by their file names.
configure_file(packaging/tidewell-webfolder.postinst
               ${CMAKE_BINARY_DIR}/packaging/tidewell-webfolder/postinst COPYONLY)

# ---------------------------------------------------------------------------------------
# Each package's own changelog, compressed the reproducible way.

string(TIMESTAMP TIDEWELL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
find_program(GZIP gzip REQUIRED)
set(changelogs)
foreach(component desktop webfolder)
    string(TOUPPER ${component} upper)
    set(TIDEWELL_DEB_PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(changelog ${CMAKE_BINARY_DIR}/packaging/${TIDEWELL_DEB_PACKAGE}/changelog.Debian)
    configure_file(packaging/changelog.Debian.in ${changelog} @ONLY)
    add_custom_command(
        OUTPUT ${changelog}.gz
        COMMAND ${GZIP} -9nf --keep ${changelog}
        DEPENDS ${changelog}
        VERBATIM)
    list(APPEND changelogs ${changelog}.gz)
    install(FILES ${changelog}.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TIDEWELL_DEB_PACKAGE}
            COMPONENT ${component})
endforeach()
add_custom_target(tidewell_changelogs ALL DEPENDS ${changelogs})

include(CPack)
