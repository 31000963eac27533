# SPDX-License-Identifier: Apache-2.0
# Debian packages, made by CPack's DEB generator from the install components
# (tools/build-debs.sh): the packages hold exactly what `cmake --install`
# lays out, so there is no second list of files to keep in step with the
# install rules, and dpkg-shlibdeps still computes each package's library
# dependencies from its binaries.
#
#   libtarvenkel1      runtime     the framework and the module
#   libtarvenkel-ui1   runtime-ui  the GUI framework and the ui library (X11,
#                                  FreeType, fontconfig, libpng)
#   libtarvenkel-dev   dev         headers, .so links, archives, CMake package,
#                                  pkg-config files
#   tarvenkel-tools    tools       tarvenkel-send, tarvenkel-archive-dump
#   tarvenkel-mta      mta         tarvenkel-send as the mail agent: sendmail
#                                  links, mail/mailx alternatives, send.conf,
#                                  the group tarvenkel, the tool setgid to it
#
# The four libraries share one SONAME version (the project's major version)
# that changes for all at once, and the runtime packages' names carry it, so
# two runtime packages suffice; they are split by what they load, so that
# the tools install without any drawing or window library.
set(TARVENKEL_DEB_MAINTAINER "Tarvenkel developers <maintainers@users.noreply.c-seed-79b5b135.example>"
  CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvenkel)
set(CPACK_PACKAGE_VENDOR "Tarvenkel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime runtime-ui dev tools mta)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVENKEL_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE tarvenkel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools' libraries are in the runtime package being built, not yet on the
# system: dpkg-shlibdeps finds them in the build tree, and the dependency on
# their package comes from the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/framework)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The library packages have the dynamic linker's cache rebuilt by a trigger.
foreach(component RUNTIME RUNTIME-UI)
  set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/triggers)
  set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endforeach()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarvenkel${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "alarm notification by mail for monitoring consoles
The Tarvenkel library gives alarm-monitoring programs e-mail notification:
MIME messages with word-wrapped text and base64 attachments, sent to an
SMTP server (with TLS and AUTH LOGIN) in one call, and the alarm record
with a fixed archive layout, on top of a small application framework.
.
This package holds the shared libraries libtarvenkel-framework and
libtarvenkel, which need no drawing or window library.")

set(CPACK_DEBIAN_RUNTIME-UI_PACKAGE_NAME libtarvenkel-ui${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME-UI_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME-UI_DEPENDS runtime)
set(CPACK_COMPONENT_RUNTIME-UI_DESCRIPTION "display helpers of the Tarvenkel alarm notification library
The drawing and window part of the Tarvenkel framework (device contexts,
fonts, windows, dialogs, an X11 backend) and the library's display helpers:
the connection progress dialog, a three-dimensional frame, an aligned text
block and a status bar for dialogs.
.
This package holds the shared libraries libtarvenkel-framework-gui and
libtarvenkel-ui.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtarvenkel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime runtime-ui)
# What the pkg-config files and the CMake package ask for when a host links
# the archives.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libssl-dev, libfreetype-dev, libfontconfig-dev, libpng-dev, libx11-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "development files of the Tarvenkel alarm notification library
Headers, the unversioned shared library links, static archives, a CMake
package (find_package(Tarvenkel): Tarvenkel::tarvenkel, Tarvenkel::mail)
and pkg-config files (tarvenkel, tarvenkel-mail) for programs that use
the Tarvenkel libraries.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tarvenkel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line alarm mailer and alarm archive reader
tarvenkel-send sends an alarm notification, with files attached, to an
SMTP server, with time-outs and TLS verification by default.
tarvenkel-archive-dump prints the alarm records of an archive.")

# The mail agent package's files are outside the prefix and replace those of
# another mail agent, so only the package installs them (EXCLUDE_FROM_ALL:
# not a plain `cmake --install`). The links are relative, as Debian wants
# them within /usr.
set(mta_links ${PROJECT_BINARY_DIR}/deb/mta)
file(MAKE_DIRECTORY ${mta_links}/sbin ${mta_links}/lib)
file(CREATE_LINK ../bin/tarvenkel-send ${mta_links}/sbin/sendmail SYMBOLIC)
file(CREATE_LINK ../bin/tarvenkel-send ${mta_links}/lib/sendmail SYMBOLIC)
install(FILES ${mta_links}/sbin/sendmail DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT mta EXCLUDE_FROM_ALL)
install(FILES ${mta_links}/lib/sendmail DESTINATION lib COMPONENT mta EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/mta/send.conf DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarvenkel
        COMPONENT mta EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_MTA_PACKAGE_NAME tarvenkel-mta)
set(CPACK_DEBIAN_MTA_PACKAGE_SECTION mail)
set(CPACK_COMPONENT_MTA_DEPENDS tools)
set(CPACK_DEBIAN_MTA_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_MTA_PACKAGE_PROVIDES mail-transport-agent)
set(CPACK_DEBIAN_MTA_PACKAGE_CONFLICTS mail-transport-agent)
set(CPACK_DEBIAN_MTA_PACKAGE_REPLACES mail-transport-agent)
set(CPACK_DEBIAN_MTA_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/mta/conffiles
    ${CMAKE_CURRENT_LIST_DIR}/deb/mta/postinst ${CMAKE_CURRENT_LIST_DIR}/deb/mta/prerm
    ${CMAKE_CURRENT_LIST_DIR}/deb/mta/postrm)
set(CPACK_DEBIAN_MTA_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_MTA_DESCRIPTION "tarvenkel-send as the mail agent of the machine
Makes tarvenkel-send the mail agent of a server without a mail server of its
own: /usr/sbin/sendmail and /usr/lib/sendmail for cron, mdadm and scripts,
mail and mailx (as alternatives) for smartd and other daemons, and an
example /etc/tarvenkel/send.conf. Every user's job sends through the relay
that file names: tarvenkel-send runs setgid to the group tarvenkel, which
may read the password file, and no user can read it through the tool.")

# Each package gets the files that Debian wants of it in the staging tree:
# its copyright and changelog, compressed manual pages, stripped binaries.
set(TARVENKEL_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/deb/changelog.Debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog.Debian.in ${TARVENKEL_DEB_CHANGELOG} @ONLY)
set(CPACK_TARVENKEL_DEB_CHANGELOG ${TARVENKEL_DEB_CHANGELOG})
set(CPACK_TARVENKEL_DEB_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/deb/copyright)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb/debian_layout.cmake)
include(CPack)
