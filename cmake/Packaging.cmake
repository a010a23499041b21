# The Debian package: `cpack -G DEB` in a build folder makes
# quillon_<version>_<arch>.deb from everything the install() rules put in
# place, under /usr. Runtime dependencies come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon")
set(QUILLON_MAINTAINER "Quillon developers <quillon@example.org>" CACHE STRING "Maintainer named in the package")
set(CPACK_PACKAGE_CONTACT "${QUILLON_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PDT picture viewer, converter, thumbnailer and image plugins")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon shows PDT pictures and saves them as BMP files. The package also\n"
    "holds pdt2bmp, a batch converter to BMP or PNG, a thumbnailer for file\n"
    "managers, a Qt 6 image-format plugin through which every Qt program\n"
    "opens PDT pictures, and a gdk-pixbuf loader that does the same for GTK\n"
    "programs.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no library link shows: the Japanese font the window's captions are
# drawn in, and Qt's own translations of its dialog buttons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)

# Debian wants the copyright and a compressed changelog in the doc folder.
set(quillon_changelog_gz ${CMAKE_BINARY_DIR}/debian/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
file(COPY_FILE ${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${quillon_changelog_gz}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillon)
# gdk-pixbuf's package rebuilds its loader cache whenever a file in its loader
# folder changes; the trigger is pulled again once this package is configured,
# when the loader's libraries are certain to be in place.
if(QUILLON_PIXBUF)
  set(QUILLON_PIXBUF_TRIGGER /usr/${QUILLON_PIXBUF_LOADER_DIR})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
endif()
include(CPack)
