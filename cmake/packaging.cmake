# SPDX-License-Identifier: MIT
# What `cmake --install` adds beside the programs (AppStream metainfo, gzipped man pages) and the Debian
# package `cpack -G DEB` builds from it. The package installs below /usr whatever the build's prefix.
include(GNUInstallDirs)

if(TARGET bellwick)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/com.tolvenby.Bellwick.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Man pages go in gzipped; -n leaves the time stamp out, so the package is the same from one build to
# the next.
set(bw_man_pages ${CMAKE_SOURCE_DIR}/docs/man/bellwick-cli.1)
if(TARGET bellwick)
    list(APPEND bw_man_pages ${CMAKE_SOURCE_DIR}/docs/man/bellwick.1)
endif()
set(bw_gzipped_man_pages)
foreach(page IN LISTS bw_man_pages)
    get_filename_component(name ${page} NAME)
    set(gzipped ${CMAKE_BINARY_DIR}/man/${name}.gz)
    add_custom_command(OUTPUT ${gzipped}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND gzip -9n -c ${page} > ${gzipped}
        DEPENDS ${page} VERBATIM)
    list(APPEND bw_gzipped_man_pages ${gzipped})
endforeach()
add_custom_target(bw_man_pages ALL DEPENDS ${bw_gzipped_man_pages})
install(FILES ${bw_gzipped_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bellwick)
set(CPACK_PACKAGE_VENDOR Tolvenby)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop file-transfer manager with a persistent FTP and HTTP queue")
set(CPACK_PACKAGE_DESCRIPTION "Bellwick keeps a queue of FTP and HTTP transfers and carries them out \
unattended: it logs in once per site, resumes partial files, expands folders into new items and lets \
sites rest between attempts. It has a manual FTP browser, a site list, log panes and a tray icon; \
bellwick-cli runs the same queue without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tolvenby <bellwick@tolvenby.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The Qt and OpenSSL libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded as plugins, so dpkg-shlibdeps cannot see them: the SVG image and icon plugins draw the SVG
# icons of the desktop's theme. libssh (SFTP) and libsecret (the keyring) are named too, so the package
# says them even where dpkg-shlibdeps is not run.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libssh-4 (>= 0.10), libsecret-1-0 (>= 0.20)")
include(CPack)
