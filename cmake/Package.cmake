# script/package: a .deb through CPack. Library dependencies come from dpkg-shlibdeps; the
# rest are what the programs need at run time without linking to it.
set(TIDEWELL_PACKAGE_MAINTAINER "Tidewell developers <tidewell@example.org>"
    CACHE STRING "Maintainer field of the .deb")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TIDEWELL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web-folder backup client for Quenlow Barcode company data")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tidewell logs the account holder in to the web-folder service, lists the
companies of this computer and of the web folder, and moves each company's
data the way it should travel, keeping a safety copy of what it replaces.
.
The package holds the desktop program (tidewell) with its menu entry,
tidewell-cli for backups without a window (kept login, schedule through a
systemd user timer, desktop notification of a failed scheduled run),
tidewell-archive for .bck archives, and the reference web-folder service
tidewell-webfolder with its systemd unit.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Korean font and Qt's display plugins; the keyring, the user's session bus and
# systemd are what tidewell-cli's kept login, notifications and schedule use when there.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-nanum, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | org.freedesktop.secrets, dbus-user-session, systemd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "notification-daemon")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/desktop/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

# Debian wants the package's own changelog, compressed the reproducible way.
set(TIDEWELL_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
string(TIMESTAMP TIDEWELL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(desktop/changelog.Debian.in ${CMAKE_BINARY_DIR}/desktop/changelog.Debian @ONLY)
find_program(GZIP gzip REQUIRED)
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/desktop/changelog.Debian.gz
    COMMAND ${GZIP} -9nf --keep ${CMAKE_BINARY_DIR}/desktop/changelog.Debian
    DEPENDS ${CMAKE_BINARY_DIR}/desktop/changelog.Debian
    VERBATIM)
add_custom_target(tidewell_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/desktop/changelog.Debian.gz)
install(FILES ${CMAKE_BINARY_DIR}/desktop/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidewell)

include(CPack)
