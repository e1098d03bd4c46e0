#ifndef TESTS_SUPPORT_ARCHIVE_ORACLE_H
#define TESTS_SUPPORT_ARCHIVE_ORACLE_H

#include <cstdint>
#include <string>
#include <vector>

/* An independent reading of an archive file, to check Velorin's reading
   against: it inflates the file with zlib's inflate directly and decodes the
   records and the safe-name rule on its own, sharing no code with Velorin,
   so that a fault in Velorin's reading cannot hide in the check too. */

enum class OracleFault {
    None,
    ShortHeader,      /* "Data error while reading archive header" */
    WrongVersion,     /* "Wrong archive version for this program" */
    ShortEntryHeader, /* "Error reading archive file header" */
    UnsafeName,       /* "Unsafe entry name ..." */
    ShortData,        /* "Error reading NAME from archive stream" */
};

struct OracleEntry {
    std::string name; /* up to the NUL, or the whole field when it has none */
    uint32_t size;
    uint16_t type;
    std::string data; /* a file's data, read whole */
};

struct OracleReading {
    std::vector<OracleEntry> entries; /* each entry read without a fault */
    OracleFault fault = OracleFault::None;
    uint64_t faultOffset = 0; /* the archive stream offset of the read that fails */
    std::string faultEntry;   /* the name of the entry it belongs to, if any */
    /* Whether the fault's place is certain: in a sound stream, a stream that
       breaks off, or a member whose CRC-32 or length does not match, all
       that precedes is sound and every inflater delivers it. Damaged deflate
       data is found by different inflaters at different places, and may be
       partly delivered first as whatever it decodes to. */
    bool exact = true;
};

/* The archive stream that a file holds, inflated with zlib's inflate
   member by member: a file without the gzip magic is the stream itself;
   otherwise the members' contents back to back, up to the first damage,
   which leaves sound false. After the last member only zero bytes up to
   the end may follow; other bytes are damage right after its data. */
struct InflatedFile {
    std::string stream;
    bool sound = true;
    bool exact = true; /* see OracleReading */
};
InflatedFile InflateArchiveFile(const std::string &file);

/* Reads the archive as Velorin's sizing pass must: 8 bytes of archive
   header, then 264 bytes per entry header and a file's data in pieces of at
   most 65,535 bytes. A damaged gzip member delivers what precedes the
   damage; the read that needs a byte past it fails. */
OracleReading ReadArchiveOracle(const std::string &path);

#endif
