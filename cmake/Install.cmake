# What `cmake --install` puts in place, and the Debian package made of it.
include(GNUInstallDirs)

set(KURUMU_APP_ID org.example.kurumu)
configure_file(${PROJECT_SOURCE_DIR}/resources/kurumu.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/resources/${KURUMU_APP_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/kurumu.1.in ${PROJECT_BINARY_DIR}/resources/kurumu.1 @ONLY)
string(TIMESTAMP KURUMU_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/resources/changelog.Debian.in ${PROJECT_BINARY_DIR}/resources/changelog @ONLY)
# The manual page and the changelog go compressed, as Debian keeps them.
foreach(page kurumu.1 changelog)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/resources/${page}.gz
                     COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/resources/${page} > ${PROJECT_BINARY_DIR}/resources/${page}.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/resources/${page})
endforeach()
add_custom_target(kurumu_documents ALL DEPENDS ${PROJECT_BINARY_DIR}/resources/kurumu.1.gz
                                               ${PROJECT_BINARY_DIR}/resources/changelog.gz)

# kurumu finds kurumu-window at ../libexec/kurumu/ from its own folder.
install(TARGETS kurumu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kurumu-window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kurumu)
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME kurumu.png)
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_BINARY_DIR}/resources/${KURUMU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_BINARY_DIR}/resources/kurumu.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/resources/changelog.gz ${PROJECT_SOURCE_DIR}/resources/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Right-click actions of file managers that read system-wide files: a service menu for one,
# an action file for another. Those configured only per user get a snippet in the README.
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu-servicemenu.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus RENAME kurumu.desktop)
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu.nemo_action DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)
install(FILES ${PROJECT_SOURCE_DIR}/resources/kurumu.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kurumu)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kurumu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The kurumu developers <kurumu@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "gather files whose names begin alike into one folder per group")
set(CPACK_PACKAGE_DESCRIPTION "kurumu gathers files and folders whose names begin alike into one folder
per group, with a window and batch modes: it never overwrites a file, proves
identical files byte for byte, journals every run and can take it back.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time, so the library scan cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
include(CPack)
