#ifndef SIGNATURE_INSTALLER_H
#define SIGNATURE_INSTALLER_H

#include "../../../format/InstallerLayout.h"
#include <signature/minisign.h>

/* An installer's signature covers everything that decides what it unpacks
   and runs: its slot as written (where each part lies, how long each is,
   its identity), its trailer up to the signature record (the counts, the
   command, the licence; the trailer's CRC-32, which covers the signature
   too, is taken as zero) and its archive, in that order, after a text that
   keeps it apart from a plain archive's signature. The program part before
   the archive is not covered. */

/* Feeds the slot and the trailer's first trailerLength bytes (up to the
   signature record) to digest; the archive follows. */
void DigestInstallerHead(MessageDigest &digest, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                         const uint8_t *trailer, size_t trailerLength);

/* Checks the installer open on descriptor, whose slot and trailer were
   read, against key: true when it is the installer signed, false with the
   reason (no signature, another key, changed bytes). */
bool CheckInstallerSignature(int descriptor, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                             const InstallerSlot &slot, const InstallerTrailer &trailer,
                             const PublicKey &key, std::string &reason);

#endif
