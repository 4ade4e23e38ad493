# Runs at install time (cmake/Install.cmake): writes the web-folder service's systemd unit with
# the program's path under the prefix of this installation, and installs it.
#   tidewell_unit_source   the unit as deployed by hand (server/deploy/)
#   tidewell_unit_written  where the installed text is made first
#   tidewell_unit_bindir   the program's folder; relative: under the prefix
#   tidewell_unit_dir      the unit's folder; relative: under the prefix
#   tidewell_unit_docs     the service's installed documents; relative: under the prefix
foreach(folder tidewell_unit_bindir tidewell_unit_dir tidewell_unit_docs)
    if(NOT IS_ABSOLUTE "${${folder}}")
        set(${folder} "${CMAKE_INSTALL_PREFIX}/${${folder}}")
    endif()
endforeach()

file(READ "${tidewell_unit_source}" text)
# The lines above [Unit] tell how to put the unit in place by hand; here it has been.
string(FIND "${text}" "[Unit]" unit_start)
if(unit_start LESS 0)
    message(FATAL_ERROR "${tidewell_unit_source} has no [Unit] section")
endif()
string(SUBSTRING "${text}" ${unit_start} -1 text)
string(REPLACE "/usr/local/bin/tidewell-webfolder" "${tidewell_unit_bindir}/tidewell-webfolder"
       text "${text}")
string(REPLACE "[Unit]\n" "[Unit]\nDocumentation=file://${tidewell_unit_docs}/README.md\n"
       text "${text}")
file(WRITE "${tidewell_unit_written}"
     "# The tidewell-webfolder service, installed but not enabled: on the machine that serves,\n"
     "# systemctl enable --now tidewell-webfolder. Examples of its deployment are kept beside\n"
     "# its README.\n\n${text}")
file(INSTALL DESTINATION "${tidewell_unit_dir}" TYPE FILE FILES "${tidewell_unit_written}")
