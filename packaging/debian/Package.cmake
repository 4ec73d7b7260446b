# The Debian package (`make deb`): CPack's DEB generator over the ordinary install rules, plus the two files
# Debian wants in /usr/share/doc/kelvo. Included from the top-level CMakeLists.txt when KELVO_DEBIAN_PACKAGE is on.
#
# The package version is the project's version with the build number as the Debian revision (1.0-1). When either
# changes, add an entry at the top of changelog.in: lintian checks that the newest entry names the package's version.

set(KELVO_PACKAGE_MAINTAINER "${KELVO_MAKER_NAME} <packages@${KELVO_MAKER_HOST}>"
    CACHE STRING "Maintainer of the Debian package, \"Name <address>\"")
set(KELVO_DEB_VERSION "${PROJECT_VERSION}-${KELVO_BUILD_NUMBER}")
# Where users find Kelvo and its source: the maker's site unless the packager names another address.
set(KELVO_HOMEPAGE "https://${KELVO_MAKER_HOST}" CACHE STRING "Homepage of the Debian package: the project's site")

set(debian_doc "${CMAKE_BINARY_DIR}/debian-doc")
configure_file("${CMAKE_CURRENT_LIST_DIR}/copyright.in" "${debian_doc}/copyright" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/changelog.in" "${debian_doc}/changelog.Debian" @ONLY)
# -n leaves out the name and time stamp, so that the same sources give the same package.
add_custom_command(OUTPUT "${debian_doc}/changelog.Debian.gz"
                   COMMAND gzip -9nf "${debian_doc}/changelog.Debian" -c > "${debian_doc}/changelog.Debian.gz"
                   DEPENDS "${debian_doc}/changelog.Debian")
add_custom_target(kelvo_debian_doc DEPENDS "${debian_doc}/changelog.Debian.gz")
add_dependencies(kelvo kelvo_debian_doc)
install(FILES "${debian_doc}/copyright" "${debian_doc}/changelog.Debian.gz"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/kelvo")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "${KELVO_MAKER_NAME}")
# The first line is the synopsis; CPack indents the others as Debian's extended description.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "tray utility for Sensibo air conditioners"
  "Kelvo lives in the system tray and controls air conditioners connected to"
  "the Sensibo cloud. Its icon shows whether the selected air conditioner is"
  "off, on, cooling or heating, and pulses while Kelvo talks to the cloud."
  ""
  "A click on the icon opens a panel with the room, its temperature and"
  "humidity, and one row per setting: power, mode, target temperature, fan,"
  "swing and display light. Every change shows at once and is sent to the"
  "cloud; the list refreshes every 30 seconds. Kelvo needs a Sensibo API key"
  "and a desktop with a system tray.")
set(CPACK_DEBIAN_PACKAGE_RELEASE "${KELVO_BUILD_NUMBER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELVO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KELVO_HOMEPAGE}")
# On a Wayland session without XWayland, Kelvo runs on Qt's Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
# Depends comes from the libraries the program links (dpkg-shlibdeps): Qt (whose libqt6gui6 holds the X11 platform
# plugin and recommends the others), Qt SVG (which also holds the SVG icon plugins), QCoro, ICU, zlib and simdjson.
# The symbol font is compiled into the program, so its package is needed only to build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Reproducible: with SOURCE_DATE_EPOCH set (make deb sets it from the changelog), every file in the package carries
# that time instead of the moment it was built, so two builds of the same sources give the same bytes.
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/ClampFileTimes.cmake")
include(CPack)
