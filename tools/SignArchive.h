#ifndef TOOLS_SIGN_ARCHIVE_H
#define TOOLS_SIGN_ARCHIVE_H

#include <cstdint>
#include <string>

#include "../format/InstallerLayout.h"
#include <signature/minisign.h>

#include "OutputFile.h"

/* Reads the minisign secret key at keyPath; an encrypted one is opened with
   the password from passwordFile's first line or, without one, asked for
   on the terminal. */
bool LoadSigningKey(const std::string &keyPath, const std::string &passwordFile, SecretKey &key,
                    std::string &error);

/* The trusted comment of a signature for the file at path, as minisign
   writes it: when it was signed and the file's name. */
std::string TrustedComment(const std::string &path);

/* Commits output, to be named path (OutputFile::Commit); with a key, signs
   the whole file first into a signature file for path + ".minisig", which
   takes its name just before the file and is removed again should the
   file not take its own. */
bool CommitSigned(OutputFile &output, const std::string &path, const SecretKey *key,
                  std::string &error);

/* The length of an installer's signature record with this trusted comment,
   known before the signature is made, so that the slot can say it. */
uint64_t SignatureRecordLength(const std::string &trustedComment);

/* Signs the installer open on descriptor: its slot (as it will be
   written), its trailer's first part, and its archive; signatureText
   receives the record's content. */
bool SignInstaller(int descriptor, const uint8_t slotBytes[INSTALLER_SLOT_SIZE],
                   const InstallerSlot &slot, const std::string &trailerHead, const SecretKey &key,
                   const std::string &trustedComment, std::string &signatureText,
                   std::string &error);

#endif
