# What goes onto the board (docs/board.md, "The installed tree"):
#
#   PREFIX/bin/fr-core                          the device program, stripped
#   PREFIX/sbin/fr-start                        start script (lock, clock, syslog, supervision)
#   PREFIX/sbin/fr-usb-gadget                   USB serial gadget (configfs)
#   PREFIX/sbin/fr-update                       new fr-core into the free slot, rollback
#   PREFIX/lib/systemd/system/fr-core.service   systemd units
#   PREFIX/lib/systemd/system/fr-usb-gadget.service
#   PREFIX/share/fr-core/inittab.fr-core        lines for a BusyBox /etc/inittab
#   PREFIX/share/fr-core/identity-layout        where fr-usb-gadget finds the factory serial number
#   PREFIX/share/doc/fr-core/board.md           the board guide
#
# The units and the inittab lines name the scripts by absolute path: their
# @PREFIX@ becomes the prefix given at install time (cmake --install
# --prefix). DESTDIR is honoured. Needs the fr-core target defined before
# this file is included.

set(FR_BOARD_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS fr-core RUNTIME DESTINATION bin)
# Stripped whether or not --strip is given: the board's copy carries no
# symbols (the build tree keeps them for debugging).
install(CODE "set(FR_STRIP \"${CMAKE_STRIP}\")")
install(CODE [[
  set(installed "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/fr-core")
  execute_process(COMMAND "${FR_STRIP}" "${installed}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${FR_STRIP} ${installed} failed: ${status}")
  endif()
]])

install(PROGRAMS ${FR_BOARD_DIR}/fr-start ${FR_BOARD_DIR}/fr-usb-gadget ${FR_BOARD_DIR}/fr-update DESTINATION sbin)
install(FILES ${FR_BOARD_DIR}/../docs/board.md DESTINATION share/doc/fr-core)

# Files whose @PREFIX@ is the install prefix, each to its directory.
install(CODE "set(FR_BOARD_DIR \"${FR_BOARD_DIR}\")")
install(CODE [[
  foreach(entry fr-core.service=lib/systemd/system fr-usb-gadget.service=lib/systemd/system
                inittab.fr-core=share/fr-core)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 dir)
    file(READ "${FR_BOARD_DIR}/${name}" text)
    string(REPLACE "@PREFIX@" "${CMAKE_INSTALL_PREFIX}" text "${text}")
    set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dir}/${name}")
    message(STATUS "Installing: ${target}")
    file(WRITE "${target}" "${text}")
    file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endforeach()
]])

# Where the factory serial number lies in the identity EEPROM, for
# fr-usb-gadget's USB serial string: taken from the headers that define
# the layout, so that the script holds no copy of it.
function(fr_header_constant header name out)
  file(STRINGS "${header}" line REGEX " ${name} = ")
  string(REGEX REPLACE "^.* ${name} = \"?([^\";\\]*).*$" "\\1" value "${line}")
  if(value STREQUAL "" OR value STREQUAL line)
    message(FATAL_ERROR "no ${name} in ${header}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
fr_header_constant(${FR_BOARD_DIR}/../storage/eeprom_format.h kPath FR_EEPROM_PATH)
fr_header_constant(${FR_BOARD_DIR}/../storage/eeprom_format.h kModelDataOffset FR_MODEL_AT)
fr_header_constant(${FR_BOARD_DIR}/../storage/identity_format.h kSerialOffset FR_SERIAL_OFFSET)
fr_header_constant(${FR_BOARD_DIR}/../storage/identity_format.h kSerialSize FR_SERIAL_SIZE)
math(EXPR FR_SERIAL_AT "${FR_MODEL_AT} + ${FR_SERIAL_OFFSET}")
set(FR_IDENTITY_LAYOUT ${CMAKE_BINARY_DIR}/share/fr-core/identity-layout)
file(CONFIGURE OUTPUT ${FR_IDENTITY_LAYOUT} @ONLY CONTENT
     "# The factory serial number in the identity EEPROM (made by the build).
FR_EEPROM_PATH=@FR_EEPROM_PATH@
FR_SERIAL_AT=@FR_SERIAL_AT@
FR_SERIAL_SIZE=@FR_SERIAL_SIZE@
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${FR_BOARD_DIR}/../storage/eeprom_format.h ${FR_BOARD_DIR}/../storage/identity_format.h)
install(FILES ${FR_IDENTITY_LAYOUT} DESTINATION share/fr-core)
