#ifndef FORMAT_BLOCK_LAYOUT_H
#define FORMAT_BLOCK_LAYOUT_H

/* Archives written in independent blocks. velorin-pack writes the archive
   stream as a series of ordinary gzip members, each holding at most
   BLOCK_INPUT_LIMIT bytes of the stream and each carrying, in an extra
   field subfield of its header, the size of the whole member: a reader
   finds the next member without inflating this one, and so can inflate
   several at once. The file stays one ordinary gzip file, which gzip, zlib
   and any reader that knows nothing of the subfield read as before.

   The member's header: 1f 8b 08, FLG with FEXTRA (0x04) set, MTIME, XFL,
   OS, then XLEN = 8 and the one subfield: SI1 'V', SI2 'B', LEN 4, and the
   member's size in bytes, header and trailer included, as an unsigned
   32-bit little-endian number, as gzip's own fields are. The subfield's
   size is a hint: a reader checks that the member ends there, and reads a
   member whose hint is wrong, or whose data are larger than
   BLOCK_INPUT_LIMIT, as it reads any other member. */

#define BLOCK_SUBFIELD_ID1 0x56 /* 'V' */
#define BLOCK_SUBFIELD_ID2 0x42 /* 'B' */
#define BLOCK_SUBFIELD_LENGTH 4
#define BLOCK_EXTRA_LENGTH (4 + BLOCK_SUBFIELD_LENGTH)
/* The fixed header, XLEN and the subfield. */
#define BLOCK_HEADER_SIZE (10 + 2 + BLOCK_EXTRA_LENGTH)

/* The most bytes of the archive stream that one member holds. */
#define BLOCK_INPUT_LIMIT (1u << 20)

#endif
