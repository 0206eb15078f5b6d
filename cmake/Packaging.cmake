# Install rules and the Debian packages (`make package`, README "Installing").
#
# Two packages: "orvex" (the window, orvexctl, the menu entry, manual pages,
# udev rules and the recording service) and "orvex-tools" (the emulated serial
# adapter and the simulated driver library, which only developers and demos
# need). Dependencies come from dpkg-shlibdeps, the version from project().

include(GNUInstallDirs)

set(ORVEX_PACKAGE_PREFIX /usr)
set(ORVEX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(ORVEX_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(ORVEX_APP_ID example.tresvant.orvex)
set(ORVEX_DEB_NAME orvex)

# A program running from one of these folders is the installed one and keeps
# its own files in the user's state folder (src/base/installpaths.h).
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/base/installpaths.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    ORVEX_INSTALL_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}:${ORVEX_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR}"
    ORVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The version is the release date, yy.mm.dd.n.
set(ORVEX_RELEASE_DATE "20${PROJECT_VERSION_MAJOR}-${PROJECT_VERSION_MINOR}-${PROJECT_VERSION_PATCH}")
execute_process(COMMAND date -u -R -d "${ORVEX_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE ORVEX_RELEASE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

set(CPACK_PACKAGE_NAME ${ORVEX_DEB_NAME})
set(CPACK_PACKAGE_VENDOR "Tresvant")
set(CPACK_PACKAGE_CONTACT "Tresvant <orvex@tresvant.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

# Files made from templates, and gzip -9n copies for the packages (no time
# stamp in them, so a rebuild gives the same bytes).
function(orvex_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
endfunction()
foreach(page orvex orvexctl ds2480-emu)
  set(VERSION ${PROJECT_VERSION})
  configure_file(${ORVEX_PACKAGING_DIR}/man/${page}.1 ${ORVEX_PACKAGING_OUT}/man/${page}.1 @ONLY)
  orvex_gzip(${ORVEX_PACKAGING_OUT}/man/${page}.1 ${ORVEX_PACKAGING_OUT}/man/${page}.1.gz)
endforeach()
configure_file(${ORVEX_PACKAGING_DIR}/debian/changelog.in ${ORVEX_PACKAGING_OUT}/changelog @ONLY)
orvex_gzip(${ORVEX_PACKAGING_OUT}/changelog ${ORVEX_PACKAGING_OUT}/changelog.gz)
configure_file(${ORVEX_PACKAGING_DIR}/${ORVEX_APP_ID}.metainfo.xml
               ${ORVEX_PACKAGING_OUT}/${ORVEX_APP_ID}.metainfo.xml @ONLY)

# orvex
install(TARGETS orvex orvexctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/${ORVEX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT main)
install(FILES ${ORVEX_PACKAGING_OUT}/${ORVEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/icons/orvex.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT main)
foreach(size 16 32 48 64 128 256)
  install(FILES ${ORVEX_PACKAGING_DIR}/icons/orvex-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orvex.png COMPONENT main)
endforeach()
install(FILES ${ORVEX_PACKAGING_OUT}/man/orvex.1.gz ${ORVEX_PACKAGING_OUT}/man/orvexctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/udev/60-orvex.rules
        DESTINATION lib/udev/rules.d COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/systemd/orvex-record.service
        DESTINATION lib/systemd/system COMPONENT main)
# Read by systemd as root only: it may hold the broker's password.
install(FILES ${ORVEX_PACKAGING_DIR}/default/orvex-record DESTINATION /etc/default
        PERMISSIONS OWNER_READ OWNER_WRITE COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/logrotate/orvex-record DESTINATION /etc/logrotate.d COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/debian/copyright ${ORVEX_PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ORVEX_DEB_NAME} COMPONENT main)
# The user guide the window's Help opens (InstallPaths::userGuide), with its
# pictures: program data, so a system that leaves out /usr/share/doc keeps it.
file(GLOB ORVEX_GUIDE_PICTURES ${CMAKE_SOURCE_DIR}/docs/*.png)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md ${ORVEX_GUIDE_PICTURES}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orvex/doc COMPONENT main)
install(FILES ${ORVEX_PACKAGING_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${ORVEX_DEB_NAME} COMPONENT main)

# orvex-tools
install(TARGETS ds2480-emu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# Not a library for other programs to link: a driver for --bus=tmex:PATH.
install(TARGETS simtmex LIBRARY DESTINATION lib/orvex/tmex COMPONENT tools)
install(FILES ${ORVEX_PACKAGING_OUT}/man/ds2480-emu.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${ORVEX_PACKAGING_DIR}/debian/tools-lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${ORVEX_DEB_NAME}-tools COMPONENT tools)
install(FILES ${ORVEX_PACKAGING_DIR}/debian/copyright ${ORVEX_PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ORVEX_DEB_NAME}-tools COMPONENT tools)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${ORVEX_PACKAGE_PREFIX})
# With the strip of `make package` (tools/build-package) as dh_strip does it.
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL main tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_MAIN_PACKAGE_NAME ${ORVEX_DEB_NAME})
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${ORVEX_DEB_NAME}-tools)
set(CPACK_DEBIAN_MAIN_DESCRIPTION
"monitor, record and publish 1-Wire temperature and I2C sensors
Orvex finds every device on a 1-Wire adapter's bus (DS18S20 and DS18B20
thermometers, MAX31850 thermocouple converters and Pt100 emulators, DS28E17
bridges to I2C humidity, pressure and carbon dioxide sensors), measures them
on a timer, shows a live table with deviations from reference samples and
charts, and writes one semicolon-separated file per channel. It publishes the
readings to an MQTT broker, with Home Assistant discovery, and serves a live
web page with the table, trend charts and alarms.
.
The package holds the window (orvex), the console tool (orvexctl), udev rules
for DS2480B serial adapters and a systemd service, orvex-record, that records
and publishes without a display.")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"emulated 1-Wire adapter and simulated driver for Orvex
Tools to try and test Orvex without hardware: ds2480-emu, a DS2480B serial
1-Wire adapter emulated on a pseudo-terminal in front of a simulated bus, and
libsimtmex.so, the simulated bus as a TMEX-compatible driver library for
orvexctl --bus=tmex:/usr/lib/orvex/tmex/libsimtmex.so.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
# The web page's charts draw with Debian's Chart.js, served from where the
# package installs it (/usr/share/javascript/chart.js); the libraries come
# from dpkg-shlibdeps after it.
set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS libjs-chart.js)
# The window's standard buttons and file dialogs in Russian (qtbase_ru.qm).
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS qttranslations5-l10n)
set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA
    ${ORVEX_PACKAGING_DIR}/debian/conffiles ${ORVEX_PACKAGING_DIR}/debian/postinst
    ${ORVEX_PACKAGING_DIR}/debian/prerm ${ORVEX_PACKAGING_DIR}/debian/postrm)

include(CPack)
