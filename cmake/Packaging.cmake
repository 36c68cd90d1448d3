# Install layout and the Debian package built by scripts/package (cpack -G DEB).
# The files that are not built live in packaging/.

set(ZEMBRIN_PKG ${CMAKE_SOURCE_DIR}/packaging)
set(ZEMBRIN_GEN ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS zembrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZEMBRIN_PKG}/zembrin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZEMBRIN_PKG}/zembrin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Debian 12 keeps system units below /lib, not /usr/lib.
install(FILES ${ZEMBRIN_PKG}/zembrin-catch@.service DESTINATION /lib/systemd/system)
install(FILES ${ZEMBRIN_PKG}/copyright README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Compressed without a time stamp, as Debian wants its manual pages and
# changelogs; gzip is part of every Debian system.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(zembrin_gz_files)
foreach(pair "zembrin.1|${CMAKE_INSTALL_MANDIR}/man1|zembrin.1.gz"
             "changelog|${CMAKE_INSTALL_DOCDIR}|changelog.gz")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 destination)
  list(GET pair 2 name)
  add_custom_command(
    OUTPUT ${ZEMBRIN_GEN}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEMBRIN_GEN}
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${ZEMBRIN_PKG}/${source} > ${ZEMBRIN_GEN}/${name}
    DEPENDS ${ZEMBRIN_PKG}/${source}
    VERBATIM)
  list(APPEND zembrin_gz_files ${ZEMBRIN_GEN}/${name})
  install(FILES ${ZEMBRIN_GEN}/${name} DESTINATION ${destination})
endforeach()

# PNG sizes of the icon, for desktops that do not draw SVG. Rendered when
# rsvg-convert (librsvg2-bin) is there; the package requires them.
option(ZEMBRIN_REQUIRE_PNG_ICONS "Fail when rsvg-convert is missing for the PNG icons" OFF)
find_program(RSVG_CONVERT rsvg-convert)
set(zembrin_png_files)
if(RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${ZEMBRIN_GEN}/icons/${size}x${size}/zembrin.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEMBRIN_GEN}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ZEMBRIN_PKG}/zembrin.svg
      DEPENDS ${ZEMBRIN_PKG}/zembrin.svg
      VERBATIM)
    list(APPEND zembrin_png_files ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
elseif(ZEMBRIN_REQUIRE_PNG_ICONS)
  message(FATAL_ERROR "rsvg-convert not found: install librsvg2-bin for the PNG icons")
else()
  message(STATUS "rsvg-convert not found: the install carries the SVG icon only")
endif()
add_custom_target(zembrin_install_files ALL DEPENDS ${zembrin_gz_files} ${zembrin_png_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catch expiring domain names through a registrar's HTTP API")
# The lines under the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zembrin registers a domain name through a registrar's HTTP registration
interface the moment a WHOIS server reports the domain deleted, or sends
registration requests at a set rate for a set time.
.
It is a desktop program with a Simplified Chinese interface. The same
executable runs a task file without a window on a server, and a systemd
template unit runs one catch per instance.")
set(ZEMBRIN_MAINTAINER "Zembrin maintainers <maintainers@zembrin.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEMBRIN_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without a CJK font the window's Chinese texts show as boxes; without the CA
# certificates no HTTPS registrar is trusted.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# No postrm: with one, dpkg keeps the package's record after a removal until
# it is purged. systemd forgets the unit at its next reload.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZEMBRIN_PKG}/postinst ${ZEMBRIN_PKG}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
