// The default configuration file: its exact bytes, when it is written, and
// what a failed write leaves. Checked both on the imitation system and on
// real files of the system the tests run on.
#include "config/config_file.h"
#include "platform/fake/platform_fake.h"
#include "text/text_codec.h"

#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

using namespace velmora;

namespace {

void expectDefaultDocument(const ConfigFile& doc) {
    ASSERT_EQ(doc.sections().size(), 4u);
    EXPECT_EQ(doc.getString(u"1", u"title"), u"Internet Explorer");
    EXPECT_EQ(doc.getString(u"1", u"exec"), u"iexplore.exe");
    EXPECT_EQ(doc.getString(u"2", u"title"), u"Opera");
    EXPECT_EQ(doc.getString(u"2", u"exec"), u"\\Program Files\\Opera\\Opera.exe");
    EXPECT_EQ(doc.getString(u"3", u"title"), u"NetFront");
    EXPECT_EQ(doc.getString(u"3", u"exec"), u"\\Program Files\\netfront33\\netfront33.exe");
    const ConfigSection& position = doc.sections()[3];
    EXPECT_EQ(position.name, u"position");
    ASSERT_EQ(position.entries.size(), 4u);
    const char16_t* keys[] = {u"xAlign", u"yAlign", u"x", u"y"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(position.entries[i].key, keys[i]);
        EXPECT_EQ(position.entries[i].value, u"0");
    }
}

} // namespace

TEST(DefaultFile, Has23LinesOf253Characters) {
    std::size_t characters = 0;
    for (const char16_t* line : DEFAULT_CONFIG_LINES)
        characters += std::u16string_view(line).size() + 1;
    EXPECT_EQ(characters, 253u);
    EXPECT_EQ(test::DEFAULT_FILE_LF.size(), 261u); // four CJK characters take three bytes each
}

class DefaultFileLineEnd : public ::testing::TestWithParam<bool> {};

TEST_P(DefaultFileLineEnd, IsWrittenByteForByteFlushedPerLineAndLoaded) {
    const bool crlf = GetParam();
    PlatformFake system;
    system.lineEndText = crlf ? u"\r\n" : u"\n";
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    ASSERT_TRUE(doc.fileMissing());
    doc.writeDefault();
    EXPECT_EQ(system.files[u"/c.ini"].bytes,
              crlf ? test::DEFAULT_FILE_CRLF : test::DEFAULT_FILE_LF);
    EXPECT_EQ(system.flushCount, 23u);
    EXPECT_FALSE(doc.fileMissing());
    expectDefaultDocument(doc);
}

INSTANTIATE_TEST_SUITE_P(LineEnds, DefaultFileLineEnd, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "CrLf" : "Lf"; });

TEST(DefaultFile, NeverOverwritesAFileThatExistsButCannotBeRead) {
    PlatformFake system;
    system.files[u"/c.ini"] = FakeFile{"[1]\ntitle=Mine\n", false};
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    ASSERT_TRUE(doc.fileMissing());
    doc.writeDefault();
    EXPECT_EQ(system.files[u"/c.ini"].bytes, "[1]\ntitle=Mine\n");
    EXPECT_TRUE(doc.fileMissing());
    EXPECT_TRUE(doc.sections().empty());
    EXPECT_EQ(system.countCalls("fopen"), 2u); // one read, one refused create; no second load
}

TEST(DefaultFile, CreateRefusedWritesAndLoadsNothing) {
    PlatformFake system;
    system.failCreate = true;
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    doc.writeDefault();
    EXPECT_EQ(system.files.count(u"/c.ini"), 0u);
    EXPECT_TRUE(doc.fileMissing());
    EXPECT_TRUE(doc.sections().empty());
}

TEST(DefaultFile, WriteFailingPartWayKeepsWhatWasWrittenAndLoadsIt) {
    PlatformFake system;
    // Enough for the first block and part of the second.
    system.failWriteAfter = std::string("# Internet Explorer\n[1]\ntitle=Internet Explorer\n"
                                        "exec=iexplore.exe\n\n# Op")
                                .size();
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    doc.writeDefault();
    EXPECT_EQ(system.files[u"/c.ini"].bytes,
              test::DEFAULT_FILE_LF.substr(0, *system.failWriteAfter));
    EXPECT_EQ(system.flushCount, 5u); // no flush after the failure
    EXPECT_FALSE(doc.fileMissing());
    ASSERT_EQ(doc.sections().size(), 1u);
    EXPECT_EQ(doc.getString(u"1", u"exec"), u"iexplore.exe");
}

TEST(DefaultFile, FailedCloseStillLoads) {
    PlatformFake system;
    system.failClose = true;
    ConfigFile doc(system, std::u16string(u"/c.ini"));
    doc.writeDefault();
    expectDefaultDocument(doc);
}

TEST(TextWriter, ALoneSurrogateFailsTheWriterAndStopsEverything) {
    PlatformFake system;
    auto file = system.createFileExclusive(u"/t");
    TextWriter writer(*file, u"\n");
    writer.putLine(u"ok");
    writer.putLine(std::u16string(u"a") + char16_t(0xD800) + u"b");
    writer.putLine(u"after");
    writer.flush();
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(system.files[u"/t"].bytes, "ok\na");
}

TEST(TextWriter, SurrogatePairsAreWrittenAsOneCharacter) {
    PlatformFake system;
    auto file = system.createFileExclusive(u"/t");
    TextWriter writer(*file, u"\r\n");
    writer.putLine(u"😀");
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(system.files[u"/t"].bytes, "\xF0\x9F\x98\x80\r\n");
}

// --- real files of the host system ------------------------------------------

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        folder_ = std::filesystem::temp_directory_path() /
                  ("velmora-core-test-" + std::to_string(seed()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::filesystem::path file(const std::string& name) const { return folder_ / name; }
    static std::u16string wide(const std::filesystem::path& path) {
        return utf8ToUtf16(path.u8string());
    }
    static std::string contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::unique_ptr<Platform> host_ = createHostPlatform();
    std::filesystem::path folder_;
};

TEST_F(RealFiles, DefaultFileIsCreatedWithTheSystemsLineEnd) {
    const auto path = file("velmora.ini");
    ConfigFile doc(*host_, wide(path));
    ASSERT_TRUE(doc.fileMissing());
    doc.writeDefault();
    const bool crlf = host_->lineEnd() == u"\r\n";
    EXPECT_EQ(contents(path), crlf ? test::DEFAULT_FILE_CRLF : test::DEFAULT_FILE_LF);
    expectDefaultDocument(doc);
}

TEST_F(RealFiles, ExistingFileIsNeverReplaced) {
    const auto path = file("velmora.ini");
    put(path, "mine");
    ConfigFile doc(*host_, wide(path));
    doc.writeDefault(); // called regardless, as if the read had failed
    EXPECT_EQ(contents(path), "mine");
}

TEST_F(RealFiles, NonAsciiPathsAndTextRoundTrip) {
    const auto path = file("設定 ファイル.ini");
    put(path, "\xEF\xBB\xBF[1]\r\ntitle=メモ帳\r\nexec=C:\\メモ.exe\r\n");
    ConfigFile doc(*host_, wide(path));
    EXPECT_FALSE(doc.fileMissing());
    EXPECT_EQ(doc.getString(u"1", u"title"), u"メモ帳");
    EXPECT_EQ(doc.getString(u"1", u"exec"), u"C:\\メモ.exe");
}

TEST_F(RealFiles, FolderInsteadOfFileIsMissingAndNotReplaced) {
    const auto path = file("velmora.ini");
    std::filesystem::create_directories(path);
    ConfigFile doc(*host_, wide(path));
    EXPECT_TRUE(doc.fileMissing());
    doc.writeDefault();
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_TRUE(doc.fileMissing());
}

TEST_F(RealFiles, FolderThatDoesNotExistGivesAnEmptyDocument) {
    const auto path = file("no/such/folder/velmora.ini");
    ConfigFile doc(*host_, wide(path));
    doc.writeDefault();
    EXPECT_TRUE(doc.fileMissing());
    EXPECT_TRUE(doc.sections().empty());
}

TEST_F(RealFiles, LongLinesAndLargeFilesReadBack) {
    const auto path = file("big.ini");
    std::string bytes = "[1]\ntitle=" + std::string(3000, 'x') + "\nexec=a\n";
    for (int i = 2; i < 3000; ++i)
        bytes += "[" + std::to_string(i) + "]\ntitle=t\n";
    put(path, bytes);
    ConfigFile doc(*host_, wide(path));
    EXPECT_EQ(doc.getString(u"1", u"title").size(), 1023u - 6u);
    EXPECT_EQ(doc.getString(u"1", u"exec"), u"a");
    EXPECT_EQ(doc.sections().size(), 2999u);
}
