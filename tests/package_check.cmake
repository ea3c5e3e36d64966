cmake_minimum_required(VERSION 3.25)
# Makes the Debian packages from the build, unpacks them into a scratch root as dpkg would, and checks that a
# desktop finds Tesk there: both programs, the menu entry that starts `tesk` and the icon it names, the relay's
# systemd unit, and package dependencies that keep Qt out of the relay's package.
set(scratch "${BUILD_DIR}/package-check")
file(REMOVE_RECURSE "${scratch}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${scratch}/debs"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed: ${result}\n${output}")
endif()

function(unpack package root)
    file(GLOB deb "${scratch}/debs/${package}_*.deb")
    list(LENGTH deb count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "expected one ${package} package, found: ${deb}")
    endif()
    execute_process(COMMAND dpkg-deb -f "${deb}" Depends OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg -x "${deb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
    set(depends "${depends}" PARENT_SCOPE)
endfunction()

unpack(tesk "${scratch}/root")
foreach(library libqt6widgets6 libqt6svg6 libqrencode4 libicu)
    if(NOT depends MATCHES "${library}")
        message(FATAL_ERROR "tesk does not depend on ${library}: ${depends}")
    endif()
endforeach()
unpack(tesk-relay "${scratch}/root")
if(depends MATCHES "qt6" OR NOT depends MATCHES "libssl|libcrypto" OR NOT depends MATCHES "libsqlite3"
   OR NOT depends MATCHES "libpq5" OR NOT depends MATCHES "libcurl4")
    message(FATAL_ERROR "tesk-relay's dependencies are off: ${depends}")
endif()

foreach(file usr/bin/tesk usr/bin/tesk-relay usr/share/applications/tesk.desktop
             usr/share/icons/hicolor/scalable/apps/tesk.svg usr/lib/systemd/system/tesk-relay.service)
    if(NOT EXISTS "${scratch}/root/${file}")
        message(FATAL_ERROR "not in the packages: /${file}")
    endif()
endforeach()
file(STRINGS "${scratch}/root/usr/share/applications/tesk.desktop" entry)
foreach(line "Type=Application" "Exec=tesk share %F" "Icon=tesk")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "the desktop entry lacks ${line}")
    endif()
endforeach()
# "Open With" offers Tesk for any file and folder (a list of its own, so read whole).
file(READ "${scratch}/root/usr/share/applications/tesk.desktop" entry_text)
if(NOT entry_text MATCHES "\nMimeType=application/octet-stream;inode/directory;\n")
    message(FATAL_ERROR "the desktop entry is not offered for every file and folder")
endif()
# The unit must start the program where the package put it, whatever prefix the build had.
file(STRINGS "${scratch}/root/usr/lib/systemd/system/tesk-relay.service" unit REGEX "^ExecStart=")
if(NOT unit MATCHES "^ExecStart=/usr/bin/tesk-relay ")
    message(FATAL_ERROR "the relay's unit does not start /usr/bin/tesk-relay: ${unit}")
endif()
file(REMOVE_RECURSE "${scratch}")
