# The Debian package (cpack -G DEB, run by scripts/package): what `cmake --install` lays out,
# under /usr, with the dependencies that dpkg-shlibdeps finds in the built binaries.
set(CPACK_PACKAGE_NAME ludex)
set(CPACK_PACKAGE_VENDOR "Ludex developers")
set(CPACK_PACKAGE_CONTACT "Ludex developers <support@ludex.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "notebook that keeps notes as a tree of branches")
set(CPACK_PACKAGE_DESCRIPTION
    "Ludex keeps notes as a tree of branches, each with a title and a memo.\n\
Several documents (.ldx files) are open at once in one tree. Any branch\n\
can be encrypted under a password and locked or unlocked in place; titles\n\
and memos are searched; an arithmetic expression typed in a memo is\n\
evaluated. The interface speaks English and Russian.\n\
\n\
The package holds the desktop program ludex and the command-line companion\n\
ludex-cli, which lists, prints, searches, exports, encrypts and decrypts\n\
documents in scripts.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ludex)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://ludex.example.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt needs its platform plugin for the window (in the Qt GUI library's package, which the binary
# pulls in) and finds Russian texts for its own dialogs in the translations package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")

include(CPack)
