# The Windows zip: `cpack -G ZIP` in the Windows build gives one folder with
# everything the program needs beside it, to be unzipped and run in place.

install(TARGETS veska perfmend RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/VESKA.bmp DESTINATION .)
# Only the pack folders: the script that makes them is for pack authors.
file(GLOB veska_pack_entries LIST_DIRECTORIES true
     ${PROJECT_SOURCE_DIR}/packs/*)
foreach(entry ${veska_pack_entries})
  if(IS_DIRECTORY ${entry})
    install(DIRECTORY ${entry} DESTINATION packs)
  endif()
endforeach()
# Line ends Notepad shows on every Windows version.
file(READ ${PROJECT_SOURCE_DIR}/data/windows-readme.txt veska_readme)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/data/windows-readme.txt)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/README.txt CONTENT "${veska_readme}"
     @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VESKA)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME VESKA-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
