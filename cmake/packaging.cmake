# What `cmake --install` puts where on Linux (pentrel-cli and melor-sim, the README and the
# LICENSE, a man page written from pentrel-cli --help), and the Debian package CPack makes of it.
# The programs link nothing of ours dynamically, so nothing of the build tree stays in them.
include(GNUInstallDirs)

install(TARGETS pentrel-cli melor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/pentrel-cli.1)
  add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
            "--name=program a MELOR device's flash from an Intel HEX file"
            --output=${man_page} $<TARGET_FILE:pentrel-cli>
    COMMAND gzip -9nf ${man_page}
    DEPENDS pentrel-cli
    COMMENT "Writing the pentrel-cli man page from its --help"
    VERBATIM)
  add_custom_target(pentrel-cli-man ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: pentrel-cli's man page is not built or installed")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pentrel)
set(CPACK_PACKAGE_VENDOR "The Pentrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "writes Intel HEX firmware into MELOR devices through their serial bootloader")
set(CPACK_PACKAGE_DESCRIPTION "pentrel-cli programs a MELOR device's flash from an Intel HEX file \
over a serial port\nand verifies it; melor-sim simulates such a device on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Pentrel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The C and C++ runtimes the programs link, as dpkg-shlibdeps finds them, and the libcrypto that
# pentrel-cli opens for its digests, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
include(CPack)
