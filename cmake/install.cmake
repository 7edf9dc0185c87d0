# Installation and the Debian package. The program finds its data in
# ../share/veska beside itself, so the two destinations stay fixed and the
# package can be installed under any prefix.

install(TARGETS veska RUNTIME DESTINATION bin)

# Only the pack folders: the script that makes them is for pack authors.
file(GLOB veska_pack_entries LIST_DIRECTORIES true
     ${PROJECT_SOURCE_DIR}/packs/*)
foreach(entry ${veska_pack_entries})
  if(IS_DIRECTORY ${entry})
    install(DIRECTORY ${entry} DESTINATION share/veska/packs)
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/VESKA.bmp DESTINATION share/veska)
install(FILES ${PROJECT_SOURCE_DIR}/data/veska.desktop
        DESTINATION share/applications)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/ DESTINATION share/icons)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veska)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VESKA developers <veska@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "audible resource monitor: hear CPU, RAM and disk load")
set(CPACK_PACKAGE_DESCRIPTION
    "VESKA samples the load of each CPU core, RAM and disk and turns it into \
looping sound from a soundpack. It lives in the notification area, with a \
global hotkey that mutes the sound or plays it only while held.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries it links against, found by dpkg-shlibdeps (the toolkit's X11
# plugin comes with its GUI library). Without an X server a Wayland session
# needs the toolkit's Wayland plugin; the hotkey there needs the portal.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-desktop-portal")
include(CPack)
