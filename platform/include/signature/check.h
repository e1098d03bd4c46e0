#ifndef SIGNATURE_CHECK_H
#define SIGNATURE_CHECK_H

/* Checks the archive's minisign signature (signatureName, or the archive's
   name with ".minisig" added when it is null) against key, a public key
   file or the key's base64 text, reading the archive whole. The archive is
   opened as the passes open it, so that they read the very file checked.
   Null when the archive is the one signed; otherwise the error line that
   says why not (no signature, another key, a changed archive), with the
   host's reason recorded where there is one. */
const char *CheckArchiveSignature(const char *archiveName, const char *key,
                                  const char *signatureName);

#endif
