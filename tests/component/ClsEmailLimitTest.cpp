// An email too large to write is a failure the caller sees: a false result,
// the reason in the log, no file, nothing taken out of the email.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "EmailTestSupport.h"
#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"

using namespace hanamail;

namespace {

namespace fs = std::filesystem;

using emailtest::logText;
using emailtest::xs;

void randomBytes(uint32_t n, unsigned start, DataBuffer& db)
{
    std::mt19937 rng(start);
    for (uint32_t i = 0; i < n; ++i) ASSERT_TRUE(db.appendByte(static_cast<unsigned char>(rng())));
}

// Every buffer is limited to 1 MB for the test; a 800 KB attachment fits,
// its base64 form (about 1.1 MB) does not.
class EmailUnderLimit : public ::testing::Test {
protected:
    static constexpr uint32_t kCap = 1u << 20;
    void SetUp() override { BufferLimit::setCapForTesting(kCap); }
    void TearDown() override { BufferLimit::setCapForTesting(0); }

    void compose(ClsEmail& e, uint32_t attachmentBytes, int attachments)
    {
        ASSERT_TRUE(e.AddTo(xs("Taro"), xs("taro@example.jp")));
        e.AddHeaderField(xs("Subject"), xs("大きな添付"));
        e.SetPlainBody(xs("本文です。"));
        for (int i = 0; i < attachments; ++i) {
            DataBuffer data;
            randomBytes(attachmentBytes, 7u + static_cast<unsigned>(i), data);
            XString type;
            const std::string name = "part" + std::to_string(i) + ".bin";
            ASSERT_TRUE(e.AddDataAttachment(xs(name.c_str()), data, type));
        }
    }
};

TEST_F(EmailUnderLimit, GetMimeFailsWithTheReasonAndNoText)
{
    ClsEmail e;
    compose(e, 800 * 1000, 1);
    XString mime;
    mime.setFromUtf8("left over");
    EXPECT_FALSE(e.GetMime(mime));
    EXPECT_TRUE(mime.isEmpty());
    EXPECT_NE(logText(e).find("Email too large"), std::string::npos) << logText(e);
    StringBuffer bytes;
    EXPECT_FALSE(e.GetMimeSb(bytes));
    EXPECT_EQ(bytes.getSize(), 0);

    // The same email under the natural limit is written whole.
    BufferLimit::setCapForTesting(0);
    EXPECT_TRUE(e.GetMime(mime));
    EXPECT_GT(mime.getUtf8Sb().getSize(), 1000 * 1000);
    EXPECT_EQ(logText(e).find("Email too large"), std::string::npos);
}

TEST_F(EmailUnderLimit, SaveEmlWritesNoFileAndLeavesAnOldOneAlone)
{
    const fs::path dir = fs::temp_directory_path() / "hanamail-limit-test";
    fs::create_directories(dir);
    const fs::path fresh = dir / "fresh.eml";
    const fs::path old = dir / "old.eml";
    fs::remove(fresh);
    {
        ClsEmail small;
        small.SetPlainBody(xs("old"));
        ASSERT_TRUE(small.SaveEml(xs(old.string().c_str())));
    }
    const auto oldSize = fs::file_size(old);

    ClsEmail e;
    compose(e, 800 * 1000, 1);
    EXPECT_FALSE(e.SaveEml(xs(fresh.string().c_str())));
    EXPECT_NE(logText(e).find("Email too large"), std::string::npos) << logText(e);
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_FALSE(e.SaveEml(xs(old.string().c_str())));
    EXPECT_EQ(fs::file_size(old), oldSize);
    fs::remove_all(dir);
}

TEST_F(EmailUnderLimit, ZipAttachmentsFailsAndKeepsEveryAttachment)
{
    ClsEmail e;
    // Each part fits; together, incompressible, they make an archive over the limit.
    compose(e, 600 * 1000, 2);
    EXPECT_FALSE(e.ZipAttachments(xs("all.zip")));
    EXPECT_NE(logText(e).find("Failed to set Zip as an attachment"), std::string::npos) << logText(e);
    BufferLimit::setCapForTesting(0);
    StringBuffer mime;
    ASSERT_TRUE(e.GetMimeSb(mime));
    const std::string text = mime.getString();
    EXPECT_NE(text.find("part0.bin"), std::string::npos);
    EXPECT_NE(text.find("part1.bin"), std::string::npos);
    EXPECT_EQ(text.find("all.zip"), std::string::npos);
}

TEST_F(EmailUnderLimit, AttachingMoreThanTheLimitFails)
{
    const fs::path file = fs::temp_directory_path() / "hanamail-limit-attach.bin";
    {
        BufferLimit::setCapForTesting(0);
        DataBuffer data;
        randomBytes(kCap + 10, 3, data);
        BufferLimit::setCapForTesting(kCap);
        FILE* f = std::fopen(file.string().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(data.getData(), 1, data.getSize(), f), data.getSize());
        std::fclose(f);
    }
    ClsEmail e;
    XString type;
    EXPECT_FALSE(e.AddFileAttachment(xs(file.string().c_str()), type));
    EXPECT_NE(logText(e).find("Failed to add file attachment"), std::string::npos) << logText(e);
    fs::remove(file);
}

}  // namespace

namespace {

// A saved email is written as it is made, a large base64 body in pieces of
// whole lines; the file must hold exactly the text GetMime gives.
TEST(EmailStreaming, SavedFileEqualsTheMimeTextAcrossPieces)
{
    ClsEmail e;
    ASSERT_TRUE(e.AddTo(xs("Taro"), xs("taro@example.jp")));
    e.SetPlainBody(xs("本文です。"));
    for (uint32_t size : {54u * 65536u, 8u * 1000u * 1000u + 7u}) {
        DataBuffer data;
        randomBytes(size, size, data);
        XString type;
        ASSERT_TRUE(e.AddDataAttachment(xs("big.bin"), data, type));
    }
    StringBuffer whole;
    ASSERT_TRUE(e.GetMimeSb(whole));
    const fs::path file = fs::temp_directory_path() / "hanamail-streamed.eml";
    ASSERT_TRUE(e.SaveEml(xs(file.string().c_str())));
    std::string saved(static_cast<size_t>(fs::file_size(file)), '\0');
    FILE* f = std::fopen(file.string().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fread(saved.data(), 1, saved.size(), f), saved.size());
    std::fclose(f);
    fs::remove(file);
    EXPECT_EQ(saved.size(), static_cast<size_t>(whole.getSize()));
    EXPECT_TRUE(saved == std::string(whole.getString(), static_cast<size_t>(whole.getSize())));
}

}  // namespace
