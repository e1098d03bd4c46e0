#include "../format/InstallerLayout.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace
{

InstallerTrailer MakeTrailer()
{
    InstallerTrailer trailer;
    trailer.archiveStart = 1000;
    trailer.archiveLength = 2000;
    trailer.directories = 3;
    trailer.files = 4;
    trailer.bytes = 5;
    trailer.command = "./setup.sh \"$@\"";
    return trailer;
}

bool Decode(const std::string &bytes, InstallerTrailer &trailer)
{
    return DecodeInstallerTrailer(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                                  trailer);
}

/* A plain trailer with records appended and its CRC-32 (over bytes 16 to
   the end) made right again, so that only the records' own rules decide. */
std::string WithRecords(const std::string &records)
{
    std::string bytes = EncodeInstallerTrailer(MakeTrailer()) + records;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 16; i < bytes.size(); i++) {
        crc ^= uint8_t(bytes[i]);
        for (int bit = 0; bit < 8; bit++)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFFu;
    WriteBigEndian32(reinterpret_cast<uint8_t *>(bytes.data()) + 12, uint32_t(crc));
    return bytes;
}

std::string Record(const char *tag, const std::string &content)
{
    std::string record(tag, 4);
    uint8_t length[4];
    WriteBigEndian32(length, uint32_t(content.size()));
    record.append(reinterpret_cast<const char *>(length), 4);
    return record + content;
}

} // namespace

TEST(InstallerLayout, TrailerKeepsLicenseAndSignatureAndTellsWhereTheSignatureBegins)
{
    InstallerTrailer written = MakeTrailer();
    written.license = "You may use this.\n";
    written.signature = "untrusted comment: x\nRWQ...\n";
    std::string bytes = EncodeInstallerTrailer(written);
    InstallerTrailer read;
    ASSERT_TRUE(Decode(bytes, read));
    EXPECT_EQ(read.command, written.command);
    EXPECT_EQ(read.license, written.license);
    EXPECT_EQ(read.signature, written.signature);
    EXPECT_EQ(read.signatureRecordStart,
              bytes.size() - INSTALLER_RECORD_HEADER_SIZE - written.signature.size());

    InstallerTrailer plain;
    std::string plainBytes = EncodeInstallerTrailer(MakeTrailer());
    ASSERT_TRUE(Decode(plainBytes, plain));
    EXPECT_TRUE(plain.license.empty());
    EXPECT_EQ(plain.signatureRecordStart, plainBytes.size());
}

TEST(InstallerLayout, TrailerWithRecordsItMayNotHoldIsDamaged)
{
    const std::string cases[] = {
        Record("XTRA", "something"),
        Record(INSTALLER_RECORD_LICENSE, "a") + Record(INSTALLER_RECORD_LICENSE, "b"),
        Record(INSTALLER_RECORD_SIGNATURE, "s") + Record(INSTALLER_RECORD_LICENSE, "a"),
        Record(INSTALLER_RECORD_LICENSE, "abc").substr(0, 9),
        std::string("LIC"),
        Record(INSTALLER_RECORD_PROGRAM, "abcd") + Record(INSTALLER_RECORD_PROGRAM, "abcd"),
        Record(INSTALLER_RECORD_PROGRAM, "abc"),
        Record(INSTALLER_RECORD_PROGRAM, "abcde"),
        Record(INSTALLER_RECORD_SIGNATURE, "s") + Record(INSTALLER_RECORD_PROGRAM, "abcd"),
    };
    for (const std::string &records : cases) {
        InstallerTrailer trailer;
        EXPECT_FALSE(Decode(WithRecords(records), trailer)) << records;
    }
    InstallerTrailer trailer;
    EXPECT_TRUE(Decode(WithRecords(Record(INSTALLER_RECORD_LICENSE, "ok")), trailer));
    EXPECT_EQ(trailer.license, "ok");
}

/* The program part's checksum leaves out the slot's bytes and nothing else, however the file
 * is cut into pieces around it. */
TEST(InstallerLayout, ProgramChecksumLeavesOutOnlyTheSlot)
{
    std::string program(5000, '\0');
    for (size_t i = 0; i < program.size(); i++)
        program[i] = char(i * 7 + i / 251);
    const uint64_t slot = 3000;
    auto whole = [&](const std::string &bytes) {
        return ChecksumProgramPart(0, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                                   0, slot);
    };
    uint32_t expected = whole(program);

    for (size_t piece : {size_t(1), size_t(7), size_t(72), size_t(1000), size_t(3001)}) {
        uint32_t crc = 0;
        for (size_t at = 0; at < program.size(); at += piece) {
            size_t length = std::min(piece, program.size() - at);
            crc = ChecksumProgramPart(crc, reinterpret_cast<const uint8_t *>(program.data()) + at,
                                      length, at, slot);
        }
        EXPECT_EQ(crc, expected) << piece;
    }

    std::string filled = program;
    filled[slot] ^= 1;
    filled[slot + INSTALLER_SLOT_SIZE - 1] ^= 1;
    EXPECT_EQ(whole(filled), expected);
    for (size_t at :
         {size_t(0), size_t(slot - 1), size_t(slot + INSTALLER_SLOT_SIZE), program.size() - 1}) {
        std::string changed = program;
        changed[at] ^= 1;
        EXPECT_NE(whole(changed), expected) << at;
    }
    /* A slot the program part does not reach leaves nothing out. */
    EXPECT_EQ(ChecksumProgramPart(0, reinterpret_cast<const uint8_t *>(program.data()),
                                  program.size(), 0, UINT64_MAX - 10),
              ChecksumProgramPart(0, reinterpret_cast<const uint8_t *>(program.data()),
                                  program.size(), 0, program.size()));
}
