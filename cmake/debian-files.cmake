# Run by cpack on the staged install tree of the Debian package, which lies
# at CPACK_TEMPORARY_INSTALL_DIRECTORY + CPACK_PACKAGING_INSTALL_PREFIX.
find_program(GZIP gzip REQUIRED)
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${usr}/share/doc/kestrave")

file(GLOB man_pages "${usr}/share/man/man1/*.1")
file(COPY "${CPACK_KESTRAVE_PACKAGING_DIR}/copyright" "${CPACK_KESTRAVE_PACKAGING_DIR}/changelog"
     DESTINATION "${doc}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
foreach(file IN LISTS man_pages ITEMS "${doc}/changelog")
    execute_process(COMMAND ${GZIP} -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
