# The Debian package: `cpack -G DEB` in the build folder packs the installed layout
# (cmake/Install.cmake) under /usr. Library dependencies come from the binaries (dpkg-shlibdeps);
# the rest is what the program uses without linking it.
if(NOT TARGET filmfinder)
  return()
endif()

set(CPACK_PACKAGE_NAME filmfinder)
# The newest release in the AppStream data.
set(CPACK_PACKAGE_VERSION 1.1)
set(CPACK_PACKAGE_VENDOR "Film Finder developers")
set(CPACK_PACKAGE_CONTACT "Film Finder developers <filmfinder@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "film site search tool with a Chinese interface")
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/filmfinder/filmfinder)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary above this and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Film Finder searches one film site for a keyword and lists titles, episodes,
cast and notes; a result shows its download addresses and poster, and an
episode of its play list opens in the desktop's default player.

A small demo film site comes with it and starts by itself; --site URL
chooses another site.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-open is the player's fallback; the interface is Chinese text.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-noto-cjk")

include(CPack)
