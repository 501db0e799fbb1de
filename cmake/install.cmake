# Installing and packaging.  The layout under the prefix:
#
#   bin/vesko-calc
#   lib/vesko/       the plug-in and the substitute host's libraries
#   share/vesko/     the sample database, its SQL, the example scripts
#   share/doc/vesko/ the README and the Lua reference
#   share/man/man1/  vesko-calc's manual page
#
# Nothing goes on the system's library path: vesko-calc finds the host
# libraries through its RPATH and the plug-in and the sample database
# relative to its own folder, so the tree runs from any prefix, moved or not,
# with no ldconfig step.
set(VESKO_INSTALL_LIBDIR lib/vesko)
set(VESKO_INSTALL_DATADIR share/vesko)

set(vesko_host_libraries vesko_host_values vesko_host_instrument vesko_host_objects vesko_host_sql
                         vesko_host_plugins vesko_host_calc)
set_target_properties(${vesko_host_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(vesko-calc PROPERTIES INSTALL_RPATH "$ORIGIN/../${VESKO_INSTALL_LIBDIR}")
install(TARGETS vesko-calc RUNTIME DESTINATION bin)
install(TARGETS ${vesko_host_libraries} vesko LIBRARY DESTINATION ${VESKO_INSTALL_LIBDIR})
install(FILES ${VESKO_SAMPLE_DATABASE} ${PROJECT_SOURCE_DIR}/examples/sample.sql
        DESTINATION ${VESKO_INSTALL_DATADIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${VESKO_INSTALL_DATADIR}/examples
        FILES_MATCHING PATTERN "*.lua")
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/lua-api.md
        DESTINATION share/doc/vesko)

# The manual page and the change log, compressed as Debian keeps them (-n:
# the same bytes from every build); the copyright file Debian asks for.
configure_file(${PROJECT_SOURCE_DIR}/docs/vesko-calc.1 ${PROJECT_BINARY_DIR}/vesko-calc.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${PROJECT_BINARY_DIR}/changelog @ONLY)
foreach(compressed vesko-calc.1 changelog)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/${compressed}.gz
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/${compressed} > ${PROJECT_BINARY_DIR}/${compressed}.gz
    DEPENDS ${PROJECT_BINARY_DIR}/${compressed})
endforeach()
add_custom_target(vesko_compressed_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/vesko-calc.1.gz
                                                    ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/vesko-calc.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION share/doc/vesko)

# `make package`: a Debian package.  dpkg-shlibdeps names the packages of
# the libraries the binaries link (the interpreter, LuaSocket, LPeg,
# LuaFileSystem, LuaBitOp, SQLite, the C++ runtime) with their versions.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesko)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lua 5.1 scripting for database calculations, with vesko-calc")
set(CPACK_PACKAGE_DESCRIPTION
    "A plug-in that runs Lua 5.1 scripts from a database host's calculations,\nand vesko-calc, a substitute host that loads it and evaluates\ncalculations and Lua chunks over an SQLite file.")
# Debian ships binaries without their symbols.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vesko maintainers <maintainers@users.noreply.c-seed-2cb77260.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/host/values ${PROJECT_BINARY_DIR}/host/objects
    ${PROJECT_BINARY_DIR}/host/sql ${PROJECT_BINARY_DIR}/host/plugins
    ${PROJECT_BINARY_DIR}/host/calc)
# Scripts may require Debian's other Lua 5.1 modules; JSON is the usual one.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS lua-cjson)
include(CPack)
