# Debian packages through CPack: `cpack -G DEB --config build/CPackConfig.cmake` makes tesk_<v>_<arch>.deb (the
# desktop program, its menu entry and icon) and tesk-relay_<v>_<arch>.deb (the relay alone, which needs no Qt, for
# a server). Library dependencies come from dpkg-shlibdeps, so they match the Debian release that built them.
set(CPACK_PACKAGE_NAME "tesk")
set(CPACK_PACKAGE_VENDOR "Tesk")
set(CPACK_PACKAGE_CONTACT "Tesk developers <tesk@localhost>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tesk relay)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tesk.invalid/")

set(CPACK_DEBIAN_TESK_PACKAGE_NAME "tesk")
set(CPACK_DEBIAN_TESK_DESCRIPTION "Move files between this computer and the phones around it\n\
Tesk keeps a small library of copies of files, folders, links and notes in the system tray and shares any of it \
with phones on the same Wi-Fi by link and QR code. Phones need nothing but a browser; a paired phone keeps a Home \
Screen web app to send photos, files, text and links to the computer.")
# xdg-open opens what the preview cannot show; the session bus carries notifications and the file manager call.
set(CPACK_DEBIAN_TESK_PACKAGE_RECOMMENDS "xdg-utils, dbus-user-session")

set(CPACK_DEBIAN_RELAY_PACKAGE_NAME "tesk-relay")
set(CPACK_DEBIAN_RELAY_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_RELAY_DESCRIPTION "Relay service for Tesk\n\
tesk-relay gives Tesk stable links, follow notifications and send-to-phone. Self-host it behind a reverse proxy \
that terminates TLS.")

include(CPack)
