# What `cmake --install` puts where (CMAKE_INSTALL_PREFIX, DESTDIR), and the
# Debian package CPack makes of it (cpack -G DEB in the build folder).
include(GNUInstallDirs)

install(TARGETS quillard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The CUPS filter and its MIME files where a CUPS server of the same prefix
# reads them (its ServerBin and DataDir: lib/cups and share/cups).
install(TARGETS quillardtopdf RUNTIME DESTINATION lib/cups/filter)
install(FILES packaging/quillard.types packaging/quillard.convs DESTINATION ${CMAKE_INSTALL_DATADIR}/cups/mime
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The bus starts the installed program for a client: the service file names
# it where it is installed (the prefix is known only when installing; a
# package installs under /usr).
install(CODE "
  set(_services \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/dbus-1/services\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${_services}\")
  file(READ \"${CMAKE_SOURCE_DIR}/packaging/com.merrowgate.Quillard.service.in\" _text)
  string(REPLACE @QUILLARD_INSTALLED_PROGRAM@ \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quillard\" _text \"\${_text}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${_services}/com.merrowgate.Quillard.service\")
  file(WRITE \"\$ENV{DESTDIR}\${_services}/com.merrowgate.Quillard.service\" \"\${_text}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_services}/com.merrowgate.Quillard.service\")
")

# The manual pages (the program's, and the filter's in the administrator's
# section 8) and the package's change log, compressed as Debian has them.
find_program(QUILLARD_GZIP gzip REQUIRED)
set(QUILLARD_COMPRESSED ${CMAKE_BINARY_DIR}/packaging/quillard.1.gz ${CMAKE_BINARY_DIR}/packaging/quillardtopdf.8.gz
    ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${QUILLARD_COMPRESSED}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${QUILLARD_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/docs/quillard.1 > ${CMAKE_BINARY_DIR}/packaging/quillard.1.gz
  COMMAND ${QUILLARD_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/docs/quillardtopdf.8 > ${CMAKE_BINARY_DIR}/packaging/quillardtopdf.8.gz
  COMMAND ${QUILLARD_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/quillard.1 ${CMAKE_SOURCE_DIR}/docs/quillardtopdf.8 ${CMAKE_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(quillard_compressed_docs ALL DEPENDS ${QUILLARD_COMPRESSED})

set(QUILLARD_DATA_PERMISSIONS PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_BINARY_DIR}/packaging/quillard.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        ${QUILLARD_DATA_PERMISSIONS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/quillardtopdf.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
        ${QUILLARD_DATA_PERMISSIONS})
install(FILES packaging/quillard.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications ${QUILLARD_DATA_PERMISSIONS})
install(FILES packaging/quillard-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME quillard.xml
        ${QUILLARD_DATA_PERMISSIONS})
install(FILES packaging/quillard.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        ${QUILLARD_DATA_PERMISSIONS})
install(FILES packaging/quillard.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quillard ${QUILLARD_DATA_PERMISSIONS})
# The package's own mailcap entries (the report type only): update-mime
# then reads no entry for text files from the desktop entry.
install(FILES packaging/quillard.mailcap DESTINATION lib/mime/packages RENAME quillard ${QUILLARD_DATA_PERMISSIONS})
# The licence (Apache-2.0) is in the machine-readable copyright file, as
# Debian has it; the package's lintian overrides say why a word stays.
install(FILES README.md packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} ${QUILLARD_DATA_PERMISSIONS})
install(FILES packaging/quillard.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME quillard ${QUILLARD_DATA_PERMISSIONS})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        PATTERN "*.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillard)
set(CPACK_PACKAGE_VENDOR "Merrowgate")
set(CPACK_PACKAGE_CONTACT "Quillard developers <quillard@merrowgate.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report previewer and print gateway")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillard lays out plain-text reports with curly-brace markup, and reports
written for character printers, page by page. It shows them in a preview
window, prints them through CUPS, writes them as PDF files or pictures, and
serves other programs as an automation server on the D-Bus session bus.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The libraries the program links, as dpkg-shlibdeps finds them; the faces
# the reports' fonts are found in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fontconfig")
# colord-data holds the sRGB profile of PDF/A files; DejaVu has the
# characters (Greek, Cyrillic, box drawing, symbols) Liberation lacks.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, adwaita-icon-theme, xdg-utils, colord-data, fonts-dejavu-core")
# The programs go into the package stripped; their symbols and debugging
# information stay in the build (cmake --install --strip does the same).
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
