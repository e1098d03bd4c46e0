#include "Installer.h"

#include <cstring>

/* Bytes that follow the slot in the program. The end of a file cut short
   reads as zeros in the last page the system loads, so a cut anywhere up
   to here leaves this end or the marker zero, never a slot that looks
   whole. */
#define INSTALLER_SLOT_END_BYTES                                                                   \
    'V', 'e', 'l', 'o', 'r', 'i', 'n', ' ', 's', 'l', 'o', 't', ' ', 'e', 'n', 'd'

namespace
{

const uint8_t slotMarker[INSTALLER_MARKER_SIZE] = {INSTALLER_SLOT_MARKER_BYTES};
const uint8_t slotEnd[] = {INSTALLER_SLOT_END_BYTES};

struct SlotBlock {
    uint8_t slot[INSTALLER_SLOT_SIZE];
    uint8_t end[sizeof slotEnd];
};

bool IsZero(const uint8_t *bytes, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (bytes[i] != 0)
            return false;
    return true;
}

} // namespace

/* This program's slot, unfilled (the marker, the layout version, zeros):
   velorin-pack fills it in the copy of the program that begins an
   installer. Volatile, because the bytes read at run time are not those
   the compiler saw. */
__attribute__((section(INSTALLER_SECTION), used)) const volatile SlotBlock ownSlot = {
    {INSTALLER_SLOT_MARKER_BYTES, 0, 0, 0, INSTALLER_LAYOUT_VERSION}, {INSTALLER_SLOT_END_BYTES}};

int ReadOwnSlot(uint8_t bytes[INSTALLER_SLOT_SIZE], InstallerSlot &slot, OwnImage &image)
{
    uint8_t end[sizeof slotEnd];
    for (size_t i = 0; i < INSTALLER_SLOT_SIZE; i++)
        bytes[i] = ownSlot.slot[i];
    for (size_t i = 0; i < sizeof end; i++)
        end[i] = ownSlot.end[i];
    image.known = DescribeOwnImage(&ownSlot, image);
    if (std::memcmp(bytes, slotMarker, sizeof slotMarker) != 0 ||
        std::memcmp(end, slotEnd, sizeof end) != 0 || !DecodeInstallerSlot(bytes, slot))
        return OWN_SLOT_DAMAGED;
    if (slot.state == INSTALLER_SLOT_UNFILLED)
        return IsZero(bytes + 24, INSTALLER_SLOT_SIZE - 24) ? OWN_SLOT_PLAIN : OWN_SLOT_DAMAGED;
    return slot.state == INSTALLER_SLOT_FILLED ? OWN_SLOT_FILLED : OWN_SLOT_DAMAGED;
}
