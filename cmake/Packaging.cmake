# Desktop integration (launcher, icons, AppStream metadata), the install layout and the
# Debian package, plus the tests that keep all three valid.
include(GNUInstallDirs)

# Names the launcher and the metadata; the program passes the same string to
# QGuiApplication::setDesktopFileName so that Wayland compositors can find its launcher.
set(OMBRELUX_APP_ID org.ombrelux.Ombrelux)
# AppStream wants a date on every release: bump it together with project(VERSION).
set(OMBRELUX_RELEASE_DATE 2026-12-08)
set(OMBRELUX_ICON_SIZES 16 32 48 128 256)

configure_file(${PROJECT_SOURCE_DIR}/data/${OMBRELUX_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${OMBRELUX_APP_ID}.metainfo.xml @ONLY)

install(TARGETS ombrelux ombrelux-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The batch tool's man page comes from its --help at install time: the build never runs it, so a
# sanitizer build that is never installed never runs help2man.
find_program(OMBRELUX_HELP2MAN help2man)
install(CODE "
    set(OMBRELUX_HELP2MAN \"${OMBRELUX_HELP2MAN}\")
    set(OMBRELUX_CLI \"$<TARGET_FILE:ombrelux-cli>\")
    set(OMBRELUX_MAN_WORK \"${PROJECT_BINARY_DIR}/man\")
    set(OMBRELUX_MAN_DIR \"${CMAKE_INSTALL_MANDIR}/man1\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/InstallManPage.cmake\")")
# The source keeps the short name; installed, the launcher must carry the application id.
install(FILES ${PROJECT_SOURCE_DIR}/data/ombrelux.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${OMBRELUX_APP_ID}.desktop)
install(FILES ${PROJECT_BINARY_DIR}/${OMBRELUX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN LISTS OMBRELUX_ICON_SIZES)
    install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hicolor/${size}x${size}/apps/ombrelux.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ombrelux)
set(CPACK_PACKAGE_VENDOR "Ombrelux")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stack bursts of photos into one clean median image")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ombrelux merges a burst of photos of one scene into their per-pixel median, so\n"
    "noise, dust specks and passers-by vanish. The result can be brightened, a dark\n"
    "frame or a second image subtracted from it, panned and saved as a BMP file.\n"
    "ombrelux-cli does the same from scripts and batch jobs, without a display.")
set(OMBRELUX_MAINTAINER "Ombrelux developers" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${OMBRELUX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${OMBRELUX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# dpkg-shlibdeps turns the binary's linked libraries (Qt and the C++ runtime) into Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform plugins are loaded at run time, so shlibdeps cannot see them, and libqt6gui6
# only recommends them: without one the window cannot open. The image format plugins are
# loaded the same way: they read and write TIFF and WebP.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)

add_test(NAME package.desktop-entry
         COMMAND desktop-file-validate ${PROJECT_SOURCE_DIR}/data/ombrelux.desktop)
add_test(NAME package.metainfo
         COMMAND appstreamcli validate --no-net ${PROJECT_BINARY_DIR}/${OMBRELUX_APP_ID}.metainfo.xml)
add_test(NAME package.deb
         COMMAND ${PROJECT_SOURCE_DIR}/tools/check-deb ${PROJECT_BINARY_DIR} ${PROJECT_VERSION}
                 ${OMBRELUX_APP_ID} ${OMBRELUX_ICON_SIZES})
set_tests_properties(package.desktop-entry package.metainfo package.deb PROPERTIES LABELS package)
