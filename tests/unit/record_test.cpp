// The configuration record as setup.exe opens it and the builder seals it.
#include "installer/format/record.h"

#include <gtest/gtest.h>

#include <vector>

#include "installer/format/format.h"

namespace {

using installer::format::InstallType;

TEST(RecordTest, SealedRecordOpensToItsFields) {
  rt::Text plain =
      "{\"softname\":\"软件\",\"softversion\":\"1.2\",\"urlremote\":\"http://a/p.zip\",\"urlfull\":\"http://a/f\","
      "\"framework\":4.8,\"mainfile\":\"bin\\\\Run.exe\",\"installtype\":\"net\",\"companyname\":\"公司\","
      "\"companyurl\":\"http://c\",\"protocol\":\"http://p\",\"sha256\":\"ab\",\"scope\":\"user\","
      "\"mirrors\":\" http://m1/p.zip \\n\\thttps://m2/p.zip\"}";
  auto record = installer::format::open_record(installer::format::seal_record(plain));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->software_name, "软件");
  EXPECT_EQ(record->software_version, "1.2");
  EXPECT_EQ(record->package_url, "http://a/p.zip");
  EXPECT_EQ(record->offline_url, "http://a/f");
  EXPECT_EQ(record->framework, "4.8");  // a number reads as its text
  EXPECT_EQ(record->main_file, "bin\\Run.exe");
  EXPECT_EQ(record->install_type, InstallType::kNet);
  EXPECT_EQ(record->company_name, "公司");
  EXPECT_EQ(record->company_url, "http://c");
  EXPECT_EQ(record->agreement_url, "http://p");
  EXPECT_EQ(record->package_sha256, "ab");
  EXPECT_EQ(record->scope, installer::format::Scope::kUser);
  // The package's addresses in the order tried: "urlremote", then each mirror.
  const std::vector<rt::Text> urls = installer::format::package_urls(*record);
  ASSERT_EQ(urls.size(), 3u);
  EXPECT_EQ(urls[1], "http://m1/p.zip");
  EXPECT_EQ(urls[2], "https://m2/p.zip");
  // Every key of format.h reads back through the one table.
  for (const char* key : installer::format::kConfigKeys) EXPECT_FALSE(record_value(*record, key).empty()) << key;
  EXPECT_EQ(record_value(*record, installer::format::kKeyInstallType), "net");
  EXPECT_TRUE(record_value(*record, "nosuchkey").empty());
}

TEST(RecordTest, DamagedRecordsAndUnknownTypes) {
  EXPECT_FALSE(installer::format::open_record(rt::Bytes()));
  EXPECT_FALSE(installer::format::parse_record("{\"softname\":"));
  // Sealed with another phrase: not JSON.
  EXPECT_FALSE(installer::format::open_record(rt::Bytes("{\"installtype\":\"disk\"}")));
  EXPECT_EQ(installer::format::parse_record("{\"installtype\":\"disk\"}")->install_type, InstallType::kDisk);
  for (const char* type : {"NET", "Disk", "", "net "}) {
    auto record = installer::format::parse_record(std::string("{\"installtype\":\"") + type + "\"}");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->install_type, InstallType::kUnknown) << type;
  }
  // No "scope" is the unscoped layout; one of neither known text is damaged.
  EXPECT_EQ(installer::format::parse_record("{}")->scope, installer::format::Scope::kDefault);
  EXPECT_EQ(installer::format::parse_record("{\"scope\":\"machine\"}")->scope, installer::format::Scope::kMachine);
  EXPECT_EQ(installer::format::parse_record("{\"scope\":\"User\"}")->scope, installer::format::Scope::kUnknown);
  // A key whose value is no text, number or boolean reads as empty.
  EXPECT_TRUE(installer::format::parse_record("{\"softname\":[1],\"mainfile\":{}}")->software_name.empty());
}

}  // namespace
