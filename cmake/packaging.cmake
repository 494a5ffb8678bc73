# Installation and the Debian packages: `cmake --install BUILD` puts the programs, the manual pages,
# the systemd units and the examples under the prefix, and the site's scripts at their fixed place,
# /opt/vordane/bin (component router: `--component cellwatch` installs cellwatch alone);
# `cpack -G DEB` in the build directory makes cellwatch_*.deb, cellwatch-router_*.deb and
# cellwatch-modemsim_*.deb, which lintian passes without error or warning.
include(GNUInstallDirs)

# Debian wants manual pages and changelogs compressed, reproducibly: -n keeps the name and time
# stamp out of the file.
set(dist_out ${CMAKE_BINARY_DIR}/dist)
set(compressed)
foreach(file cellwatch.8 cellwatch-check.8 cellwatch-eventd.8 modemsim.1 changelog)
  add_custom_command(OUTPUT ${dist_out}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dist_out}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/dist/${file} > ${dist_out}/${file}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/dist/${file})
  list(APPEND compressed ${dist_out}/${file}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})

install(TARGETS cellwatch cellwatch-check RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR}
        COMPONENT cellwatch)
install(FILES ${dist_out}/cellwatch.8.gz ${dist_out}/cellwatch-check.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT cellwatch)
# Where systemd looks for the units of packages (under /usr), or of local installs (/usr/local).
install(FILES dist/cellwatch@.service DESTINATION lib/systemd/system COMPONENT cellwatch)
# OpenWrt's procd script and its configuration stay examples: a router image installs them.
install(FILES dist/cellwatch.init dist/cellwatch.config
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch/examples COMPONENT cellwatch)
install(FILES ${dist_out}/changelog.gz dist/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch COMPONENT cellwatch)
# The router's parts around cellwatch: the event daemon, its units, the site's scripts.
install(TARGETS cellwatch-eventd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT router)
install(FILES ${dist_out}/cellwatch-eventd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
        COMPONENT router)
install(FILES dist/cellwatch-eventd.service DESTINATION lib/systemd/system COMPONENT router)
install(PROGRAMS dist/router/4dhcp.sh dist/router/6dhcp.sh dist/router/failover.sh
        dist/router/udhcpc.script dist/router/odhcp6c.script
        DESTINATION /opt/vordane/bin COMPONENT router)
install(FILES dist/router/cellwatch-common.sh DESTINATION /opt/vordane/bin COMPONENT router)
install(FILES dist/cellwatch-eventd.init dist/cellwatch-link.conf
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch-router/examples COMPONENT router)
install(FILES ${dist_out}/changelog.gz dist/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch-router COMPONENT router)
# cellwatch runs the scripts at this fixed place, outside the FHS's own directories on purpose.
install(FILES dist/cellwatch-router.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME cellwatch-router
        COMPONENT router)
if(NOT CELLWATCH_PROGRAM_ONLY)
  install(FILES ${dist_out}/modemsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT modemsim)
  install(FILES ${dist_out}/changelog.gz dist/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch-modemsim COMPONENT modemsim)
  install(DIRECTORY tools/scenarios/
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cellwatch-modemsim/examples
          COMPONENT modemsim)
endif()

set(CPACK_PACKAGE_NAME cellwatch)
set(CPACK_PACKAGE_VENDOR "the cellwatch authors")
set(CPACK_PACKAGE_CONTACT "the cellwatch authors <maintainers@cellwatch.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(CELLWATCH_PROGRAM_ONLY)
  set(CPACK_COMPONENTS_ALL cellwatch router)
else()
  set(CPACK_COMPONENTS_ALL cellwatch router modemsim)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_CELLWATCH_PACKAGE_NAME cellwatch)
set(CPACK_DEBIAN_MODEMSIM_PACKAGE_NAME cellwatch-modemsim)
set(CPACK_DEBIAN_ROUTER_PACKAGE_NAME cellwatch-router)
set(CPACK_DEBIAN_ROUTER_PACKAGE_DEPENDS
    "cellwatch (= ${PROJECT_VERSION}), busybox, iproute2, net-tools, procps")
set(CPACK_DEBIAN_ROUTER_PACKAGE_SUGGESTS "isc-dhcp-client")
set(CPACK_DEBIAN_MODEMSIM_PACKAGE_SECTION devel)
# Each description's first line is its package's synopsis; a CPACK_PACKAGE_DESCRIPTION_SUMMARY
# would be put in front of both.
set(CPACK_DEBIAN_CELLWATCH_DESCRIPTION "supervisor for one cellular data link
cellwatch watches the data link of one cellular modem on an embedded Linux
router. About every eleven seconds it takes a system-wide lock, holds a short
AT dialogue on the modem's serial port (is the modem alive, is it attached to
the packet network, which address did the network give it), runs the
interface's DHCP script when the address changes, and counts failures. When
the link is lost, or too many checks fail, it takes the interface down and
hands the failover to the system's event daemon through its named pipe.
.
cellwatch-check holds exactly one of those checks, safely on a live router,
and says what it found.")
set(CPACK_DEBIAN_ROUTER_DESCRIPTION "event daemon and site scripts around cellwatch
cellwatch-router makes a router with a cellular uplink and a wired backup
move its traffic to the backup when cellwatch gives the link up, and back
when the modem returns. It ships cellwatch-eventd, the event daemon that runs
the failover script for cellwatch's requests, and the scripts cellwatch runs:
DHCP clients for the cellular interface (busybox udhcpc, and a DHCPv6 client)
with a default route below the backup's, and a failover script that has the
link watched again after a growing gap. A site with scripts of its own
installs cellwatch alone.")
set(CPACK_DEBIAN_MODEMSIM_DESCRIPTION "simulated cellular modem for testing cellwatch
modemsim answers AT commands on a pseudo-terminal, or on an existing tty such
as a USB gadget's serial port, as the firmware of one modem family would,
following a scenario file: attach states, addresses and their changes, answer
shapes, slow, silent, noisy or unplugged modems. It lets cellwatch and
cellwatch-check be run and tested without a modem, and replays a dialogue that
cellwatch-check captured on a router.")
include(CPack)
