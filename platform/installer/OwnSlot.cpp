#include "Installer.h"

/* This program's slot, unfilled (the marker, the layout version, zeros):
   velorin-pack fills it in the copy of the program that begins an
   installer. Volatile, because the bytes read at run time are not those
   the compiler saw. */
__attribute__((section(INSTALLER_SECTION), used))
const volatile uint8_t ownSlot[INSTALLER_SLOT_SIZE] = {INSTALLER_SLOT_MARKER_BYTES, 0, 0, 0,
                                                       INSTALLER_LAYOUT_VERSION};

bool ReadOwnSlot(uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot)
{
    for (size_t i = 0; i < INSTALLER_SLOT_SIZE; i++)
        bytes[i] = ownSlot[i];
    return DecodeInstallerSlot(bytes, slot) && slot.state == INSTALLER_SLOT_FILLED;
}
