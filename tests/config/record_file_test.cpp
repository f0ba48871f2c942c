#include "config/record_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/gbk.h"

namespace corvel::config {
namespace {

// The files' text, line by line, as users and scripts know it.
const char* const kPartitionHeaderLines[] = {
    "/*注意事项：*/",
    "/* 1. 行顺序不能更改*/",
    "/* 2. Valid有效标志：0xD3912DD4; 无效标志:其他(一般0xFFFFFFFF)*/",
    "/* 3. 数据按小端模式存放，如：0x1000地址需要在该文件中写成00 10 00 00*/",
    "/*512K版本默认分区大小：*/",
    "/*PartInfo:      4K      */",
    "/*SblSize:       4K      */",
    "/*StackSize:     80K     */",
    "/*AppSize:       200K    */",
    "/*FreeSize:      200K    */",
    "/*UserData1Size:  20K    */",
    "/*UserData2Size:  4K     */",
};
const char* const kAccessHeaderLines[] = {
    "/*注意事项：*/",
    "/* 1. 行顺序不能更改*/",
    "/* 2. Valid有效标志：0xD3912DD4; 无效标志:其他(一般0xFFFFFFFF)*/",
    "/* 3. 数据按小端模式存放，如：用户密码0x5A6B7C8D在该文件中写成8D 7C 6B 5A*/",
    "/* 控制字描述：*/",
    "/*AccessInfoValid:     为0xD3912DD4时说明访问控制信息有效*/",
    "/*JtagDisValid:        为0xD3912DD4时说明Jtag被禁用*/",
    "/*UserPassword:        用户密码，默认0xFFFFFFFF*/",
    "/*RunOtaValid:         为0xD3912DD4时说明下次上电启动OTA程序*/",
    "/*Reserved:            保持0xFFFFFFFF*/",
    "/* BLE-ACCESS-CONFIG */",
};

std::string Gbk(const std::string& utf8) {
  auto gbk = text::Utf8ToGbk(utf8);
  EXPECT_TRUE(gbk.ok());
  return gbk.ok() ? *gbk : std::string();
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  return bytes;
}

std::string ErasedPartitionFile() {
  std::string utf8;
  for (const char* line : kPartitionHeaderLines) utf8 += std::string(line) + "\n";
  utf8 += "/*BLE-PART-CONFIG        */\r\n";
  for (const auto& name : kPartitionFields) utf8 += "FF FF FF FF  /*" + std::string(name) + "*/\n";
  return Gbk(utf8);
}

TEST(FormatRecordFile, ErasedPartitionRecordIsThirteenFfLines) {
  const std::vector<uint8_t> erased(kPartitionRecordSize, 0xFF);
  auto file = FormatPartitionFile(erased.data(), erased.size());
  ASSERT_TRUE(file.ok()) << file.error().text;
  EXPECT_EQ(*file, ErasedPartitionFile());
  // The header is GBK on disk: "/*注意事项：*/" as its bytes.
  EXPECT_EQ(file->substr(0, 15), "/*\xD7\xA2\xD2\xE2\xCA\xC2\xCF\xEE\xA3\xBA*/\n");
  EXPECT_NE(file->find("/*BLE-PART-CONFIG        */\r\nFF FF FF FF  /*PartInfoValid*/\n"), std::string::npos);
  const std::string lastLine = "FF FF FF FF  /*FreeSize*/\n";
  EXPECT_EQ(file->substr(file->size() - lastLine.size()), lastLine);
}

TEST(FormatRecordFile, AccessFileWordsInMemoryOrder) {
  const std::vector<uint8_t> record = {0xD4, 0x2D, 0x91, 0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0x8D, 0x7C,
                                       0x6B, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  auto file = FormatAccessFile(record.data(), record.size());
  ASSERT_TRUE(file.ok()) << file.error().text;
  std::string utf8;
  for (const char* line : kAccessHeaderLines) utf8 += std::string(line) + "\n";
  utf8 +=
      "D4 2D 91 D3  /* AccessInfoValid */\n"
      "FF FF FF FF  /* JtagDisValid */\n"
      "8D 7C 6B 5A  /* UserPassword */\n"
      "FF FF FF FF  /* RunOtaValid */\n"
      "FF FF FF FF  /* reserved1 */\n"
      "FF FF FF FF  /* reserved2 */\n"
      "FF FF FF FF  /* reserved3 */\n";
  EXPECT_EQ(*file, Gbk(utf8));
  EXPECT_EQ(text::GbkToUtf8(*file), utf8);
}

TEST(FormatRecordFile, RefusesARecordOfAnotherSize) {
  const std::vector<uint8_t> bytes(64, 0);
  for (const size_t n : {size_t{0}, size_t{27}, size_t{29}, size_t{51}, size_t{53}, size_t{56}}) {
    const auto kind = n < 40 ? RecordKind::kAccess : RecordKind::kPartition;
    auto file = FormatRecordFile(kind, bytes.data(), n);
    EXPECT_FALSE(file.ok()) << n;
  }
}

TEST(LoadRecordFile, AWrittenFileLoadsBackToTheSameBytes) {
  for (const auto kind : {RecordKind::kPartition, RecordKind::kAccess}) {
    const auto record = Pattern(kind == RecordKind::kPartition ? kPartitionRecordSize : kAccessRecordSize);
    auto file = FormatRecordFile(kind, record.data(), record.size());
    ASSERT_TRUE(file.ok());
    auto loaded = LoadRecordFile(*file, kind);
    ASSERT_TRUE(loaded.ok()) << loaded.error().text;
    EXPECT_EQ(*loaded, record);
  }
}

// A partition file as a user may have edited it: `words` replace the word lines.
std::string PartitionFile(const std::string& words) {
  const std::string file = ErasedPartitionFile();
  const size_t end = file.find("\r\n") + 2;
  return file.substr(0, end) + words;
}

struct LoadCase {
  const char* name;
  std::string file;
  RecordKind kind;
  std::vector<uint8_t> expected;
};

TEST(LoadRecordFile, ReadsWhatIsLeftAfterTheComments) {
  const std::vector<uint8_t> valid = {0xD4, 0x2D, 0x91, 0xD3};
  std::vector<uint8_t> fourteenWords(56, 0xFF);
  std::copy(valid.begin(), valid.end(), fourteenWords.begin());
  std::string fourteenLines = "D4 2D 91 D3  /*PartInfoValid*/\n";
  for (int i = 0; i < 13; ++i) fourteenLines += "FF FF FF FF  /*extra*/\n";
  const LoadCase cases[] = {
      {"hand-edited lower case, packed", PartitionFile("d42d91d3 /*PartInfoValid*/\n"), RecordKind::kPartition,
       valid},
      {"the same with blanks", PartitionFile("D4 2D 91 D3  /*PartInfoValid*/\n"), RecordKind::kPartition, valid},
      {"an extra word line gives 56 bytes", PartitionFile(fourteenLines), RecordKind::kPartition, fourteenWords},
      {"marker with blanks inside", "/*  BLE-PART-CONFIG   */\nD4 2D 91 D3\n", RecordKind::kPartition, valid},
      {"marker split by line ends and tabs", "/*BLE-\r\nPART-\tCONFIG*/\nD42D91D3", RecordKind::kPartition, valid},
      {"marker only", "/*BLE-PART-CONFIG*/", RecordKind::kPartition, {}},
      {"partition keeps only hex digits", "/*BLE-PART-CONFIG*/ D4 xyz 2D", RecordKind::kPartition, {0xD4, 0x2D}},
      {"access pairs stray characters too", "/* BLE-ACCESS-CONFIG */ G1 1G", RecordKind::kAccess, {0x00, 0x01}},
      {"a stray */ loses only its slash", "/*BLE-ACCESS-CONFIG*/AB*/CD", RecordKind::kAccess, {0xAB, 0x00}},
      {"an access file with an odd digit count has 27 bytes",
       "/*BLE-ACCESS-CONFIG*/" + std::string(6 * 8, 'F') + "FF FF FF F", RecordKind::kAccess,
       std::vector<uint8_t>(27, 0xFF)},
      {"the marker anywhere in the file", "D4 2D 91 D3 /*BLE-PART-CONFIG*/", RecordKind::kPartition, valid},
  };
  for (const auto& c : cases) {
    auto loaded = LoadRecordFile(c.file, c.kind);
    ASSERT_TRUE(loaded.ok()) << c.name << ": " << loaded.error().text;
    EXPECT_EQ(*loaded, c.expected) << c.name;
  }
}

TEST(LoadRecordFile, TellsAMissingMarkerFromATooLongFile) {
  const std::vector<uint8_t> record(kAccessRecordSize, 0xFF);
  auto accessFile = FormatAccessFile(record.data(), record.size());
  ASSERT_TRUE(accessFile.ok());

  // Each kind needs its own marker.
  auto wrongKind = LoadRecordFile(*accessFile, RecordKind::kPartition);
  ASSERT_FALSE(wrongKind.ok());
  EXPECT_TRUE(IsMarkerMissing(wrongKind.error()));
  EXPECT_EQ(wrongKind.error().text, "文件格式错误，请重新加载!");

  auto empty = LoadRecordFile("", RecordKind::kAccess);
  ASSERT_FALSE(empty.ok());
  EXPECT_TRUE(IsMarkerMissing(empty.error()));

  const std::string atLimit = "/*BLE-ACCESS-CONFIG*/" + std::string(kMaxRecordFileCharacters - 21, '0');
  auto fits = LoadRecordFile(atLimit + "\r\n \t", RecordKind::kAccess);
  ASSERT_TRUE(fits.ok()) << fits.error().text;
  EXPECT_EQ(fits->size(), (kMaxRecordFileCharacters - 21) / 2);

  auto tooLong = LoadRecordFile(atLimit + "0", RecordKind::kAccess);
  ASSERT_FALSE(tooLong.ok());
  EXPECT_FALSE(IsMarkerMissing(tooLong.error()));
  EXPECT_EQ(tooLong.error().kind, ErrorKind::kBadInput);
  EXPECT_EQ(tooLong.error().text, "文件超过4096个有效字符，未加载");
}

}  // namespace
}  // namespace corvel::config
