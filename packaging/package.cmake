# The Debian package: cmake --build --preset release --target package makes
# kv402master_<version>_amd64.deb from what cmake --install puts, below /usr, plus the files
# Debian asks of every package.

# KV402_PACKAGE_MAINTAINER is set in the top CMakeLists.txt: the package test reads it too.

find_program(KV402_GZIP gzip REQUIRED)

# The Debian files go into a component of their own, left out of a plain cmake --install.
set(debian_component debian)
set(doc_folder ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
# The version carries no Debian revision, which makes the package a native one: its changelog is
# changelog.gz.
add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${KV402_GZIP} -9nkf changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
    COMMENT "Compressing the package's changelog"
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${doc_folder}
    COMPONENT ${debian_component} EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
# Everything cmake --install puts, then the Debian files.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};${debian_component};/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT ${KV402_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KV402_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (the Yes, No, OK and Cancel buttons of every message) come from Qt's translations:
# without them the Italian interface shows English buttons under Italian messages. The program
# works without them, so they are recommended, which apt installs by default, rather than
# depended on.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load new software into the KV402 hand-held terminal")
# Debian wants the lines of the long description under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "KV402 Master is the desktop program with which service technicians load new
software into the KV402 hand-held terminal over a serial cable. The technician
picks the terminal's firmware revision, the software version and its language;
the program looks the choice up in the catalogue Versioni.mdb, reads the
Motorola S-record data file that it names and sends it to the terminal, in
English or Italian.
The package holds the program, kv402master-demo with simulated terminals and
its demo catalogue and data files, and the kv402 tool, which turns data files
into load images and builds and dumps catalogues.")

include(CPack)
