# What cmake --install puts where, and the packages cpack makes of it, with the project's version:
#   Linux    kestrel_<version>_<arch>.deb       kestrel in bin/, the README in the doc folder
#            kestrel-unit_<version>_<arch>.deb  the simulated unit, kestrel-unit in bin/
#   Windows  kestrel-<version>-win64.zip        kestrel.exe and the README, side by side
# The simulated unit is a component and a package of its own, so that the tool is installed
# without it unless it is asked for.

include(GNUInstallDirs)

if(WIN32)
    # One folder, as Windows programs come: the card's driver libraries are looked for beside
    # kestrel.exe, and its README is read from there.
    set(KESTREL_INSTALL_BINDIR .)
    set(KESTREL_INSTALL_DOCDIR .)
else()
    set(KESTREL_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(KESTREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS kestrel RUNTIME DESTINATION ${KESTREL_INSTALL_BINDIR} COMPONENT kestrel)
install(FILES README.md DESTINATION ${KESTREL_INSTALL_DOCDIR} COMPONENT kestrel)
set(KESTREL_COMPONENTS kestrel)
if(TARGET kestrel-unit)
    install(TARGETS kestrel-unit RUNTIME DESTINATION ${KESTREL_INSTALL_BINDIR} COMPONENT kestrel-unit)
    list(APPEND KESTREL_COMPONENTS kestrel-unit)
endif()

set(KESTREL_PACKAGE_MAINTAINER "Kestrel maintainers <maintainers@kestrel.invalid>" CACHE STRING
    "Maintainer named in the Debian packages: a name and an e-mail address")

set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Kestrel maintainers")
set(CPACK_PACKAGE_CONTACT ${KESTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL ${KESTREL_COMPONENTS})
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
    set(CPACK_PACKAGE_FILE_NAME kestrel-${PROJECT_VERSION}-win64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    # The libraries each program needs, as dpkg-shlibdeps finds them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_KESTREL_PACKAGE_NAME kestrel)
    set(CPACK_DEBIAN_KESTREL_DESCRIPTION
"firmware loader for a remote embedded unit
Kestrel loads image files into the unit's flash banks and EEPROMs, reads
images and the unit's log back into files, shows what each bank holds and
boots the unit, over a serial port or an Alpha Data ADM-XRC FPGA card. It
runs as a single-key menu or from the command line, for scripts.")
    set(CPACK_DEBIAN_KESTREL-UNIT_PACKAGE_NAME kestrel-unit)
    set(CPACK_DEBIAN_KESTREL-UNIT_PACKAGE_SECTION devel)
    set(CPACK_DEBIAN_KESTREL-UNIT_PACKAGE_SUGGESTS kestrel)
    set(CPACK_DEBIAN_KESTREL-UNIT_DESCRIPTION
"simulated unit for trying and testing Kestrel
kestrel-unit emulates the embedded unit's boot loader on a pseudo-terminal
named COMn, so that Kestrel can be tried, demonstrated and tested without the
hardware. It holds four flash banks, the EEPROMs and a log, and can be told
to misbehave: corrupted or dropped answers, line noise, failed downloads.")
endif()

include(CPack)
