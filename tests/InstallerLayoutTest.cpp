#include <installer/layout.h>

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
    PutBigEndian(reinterpret_cast<uint8_t *>(bytes.data()) + 12, crc, 4);
    return bytes;
}

std::string Record(const char *tag, const std::string &content)
{
    std::string record(tag, 4);
    uint8_t length[4];
    PutBigEndian(length, content.size(), 4);
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
    };
    for (const std::string &records : cases) {
        InstallerTrailer trailer;
        EXPECT_FALSE(Decode(WithRecords(records), trailer)) << records;
    }
    InstallerTrailer trailer;
    EXPECT_TRUE(Decode(WithRecords(Record(INSTALLER_RECORD_LICENSE, "ok")), trailer));
    EXPECT_EQ(trailer.license, "ok");
}
