# Installing the viewer as a desktop program, and its Debian package.
#
#   cmake --install <build> [--prefix <prefix>]   the program, its desktop entry, icons,
#                                                  AppStream metadata, manual page and pages
#   scripts/package.sh                             the .deb, through CPack
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(TLG_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(TLG_PACKAGING_OUT ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(TLG_APPSTREAM_ID dk.marvikware.TlgView)

# Files that carry the version.
configure_file(${TLG_PACKAGING_DIR}/${TLG_APPSTREAM_ID}.metainfo.xml.in
               ${TLG_PACKAGING_OUT}/${TLG_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${TLG_PACKAGING_DIR}/tlgview.1.in ${TLG_PACKAGING_OUT}/tlgview.1 @ONLY)

# The icon at the theme's fixed sizes, drawn from the SVG at build time; the manual page
# compressed as Debian keeps them.
set(TLG_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(TLG_RSVG_CONVERT rsvg-convert)
find_program(TLG_GZIP gzip)
set(TLG_PACKAGING_OUTPUTS)
if(TLG_RSVG_CONVERT)
    foreach(size ${TLG_ICON_SIZES})
        set(png ${TLG_PACKAGING_OUT}/icons/${size}x${size}/tlgview.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${TLG_PACKAGING_OUT}/icons/${size}x${size}
            COMMAND ${TLG_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TLG_PACKAGING_DIR}/tlgview.svg
            DEPENDS ${TLG_PACKAGING_DIR}/tlgview.svg
            COMMENT "Drawing the ${size}x${size} icon")
        list(APPEND TLG_PACKAGING_OUTPUTS ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
else()
    message(WARNING "rsvg-convert (Debian package librsvg2-bin) is missing: only the scalable "
                    "icon is installed. scripts/deps.sh installs it.")
endif()
if(TLG_GZIP)
    set(man ${TLG_PACKAGING_OUT}/tlgview.1.gz)
    add_custom_command(OUTPUT ${man}
        COMMAND ${TLG_GZIP} -9 -n -c ${TLG_PACKAGING_OUT}/tlgview.1 > ${man}
        DEPENDS ${TLG_PACKAGING_OUT}/tlgview.1
        COMMENT "Compressing the manual page")
    list(APPEND TLG_PACKAGING_OUTPUTS ${man})
else()
    set(man ${TLG_PACKAGING_OUT}/tlgview.1)
endif()
add_custom_target(packaging_files ALL DEPENDS ${TLG_PACKAGING_OUTPUTS})

install(TARGETS tlgview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TLG_PACKAGING_DIR}/tlgview.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TLG_PACKAGING_DIR}/tlgview.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TLG_PACKAGING_OUT}/${TLG_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The program's own pages, read from here while the settings folder has no copy of its own.
install(FILES banner/pages/TlgView.htm banner/pages/tlg-1.htm banner/pages/tlg-2.htm
              banner/pages/tlg-3.htm
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tlgview)

# The Debian package. Its dependencies are found by dpkg-shlibdeps from the libraries the
# program links, not listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tlgview)
set(CPACK_PACKAGE_VENDOR MarvikWare)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for log files that other programs are writing")
set(CPACK_PACKAGE_DESCRIPTION
    "TlgView shows a log that another program is writing and follows it live, with\n"
    "error words in red and info words in blue. It opens logs of any size at once,\n"
    "keeps a list of the logs you read often, and finds text.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "TlgView maintainers <tlgview@marvikware.dk>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.marvikware.dk/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

# The install rules checked in the test run: an install into a scratch root, read back.
if(TLG_BUILD_TESTS)
    set(TLG_SCRATCH_ROOT ${CMAKE_CURRENT_BINARY_DIR}/install-test)
    add_test(NAME install_tree
             COMMAND sh -c "rm -rf \"$1\" && \"$2\" --install \"$3\" --prefix \"$1/usr\" >/dev/null && \"$4\" \"$1\" /usr"
                     install_tree ${TLG_SCRATCH_ROOT} ${CMAKE_COMMAND} ${CMAKE_CURRENT_BINARY_DIR}
                     ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-install.sh)
endif()
