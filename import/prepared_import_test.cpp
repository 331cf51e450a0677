#include "import/prepared_import.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_system.h"
#include "platform/fake/fake_ui.h"
#include "platform/fake/test_window.h"
#include "routing/split_list.h"

namespace quillon::importing {
namespace {

using platform::AnswerOk;
using platform::Control;
using platform::FakeSystem;
using platform::FakeUi;
using platform::Row;
using Box = FakeUi::Box;

constexpr char kStore[] = "/q/分流器配置/http.ini";
constexpr char kFile[] = "/in/prepared.ini";
const Box kRefused{"该配置文件不支持直接导入当前版本，请更新最新版的配置文件。", 0, "异常"};
Box Count(int n) { return {"本次载入[" + std::to_string(n) + "]条配置已完成", 0, "信息："}; }

class ImportTest : public ::testing::Test {
 protected:
  ImportTest() : ui(platform::TestWindowSpec()) {
    sys.directories = {"/q/分流器配置", "/in"};
    sys.adapters = {{"v0", "veth", "", "192.0.2.2", "255.255.255.0", "192.0.2.1"}};
    sys.connectionNames = {{"v0", "以太网"}};
  }
  void Section(const std::string& name, std::vector<std::pair<std::string, std::string>> keys) {
    sys.inis[kFile].push_back({name, std::move(keys)});
  }
  void Import(const std::string& line) {
    ui.answers.push_back(AnswerOk);
    ImportSplitFile(sys, ui, kFile, line);
  }
  std::string Stored(const std::string& section, const std::string& key) {
    return sys.IniValue(kStore, section, key).value_or("(none)");
  }
  FakeSystem sys;
  FakeUi ui;
};

TEST_F(ImportTest, KeepsTheFilesLinesOrPutsEveryEntryOnTheChosenOne) {
  Section("a.test", {{"xl", "198.51.100.1"}, {"zt", "1"}, {"bz", "甲"}});
  Section("b.test", {{"xl", "203.0.113.1"}, {"bz", "乙"}});  // no zt: stored empty, shown 关闭
  Import("");
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"1", "a.test", "198.51.100.1", "以太网", "开启", "甲"},
                                       {"2", "b.test", "203.0.113.1", "以太网", "关闭", "乙"}}));
  EXPECT_EQ(Stored("b.test", "zt"), "");
  EXPECT_EQ(ui.boxes, std::vector<Box>{Count(2)});

  // Again with a chosen line: every entry gets it, rows are appended again
  // with the file's numbers, and the next reload shows each name once.
  Import("192.0.2.1");
  EXPECT_EQ(Stored("a.test", "xl"), "192.0.2.1");
  EXPECT_EQ(Stored("b.test", "xl"), "192.0.2.1");
  ASSERT_EQ(ui.rows.size(), 4u);
  EXPECT_EQ(ui.rows[3][0], "2");
  routing::ReloadSplitList(sys, ui);
  EXPECT_EQ(ui.rows.size(), 2u);
  // Written xl, bz, zt per entry.
  std::vector<std::string> writes;
  for (const auto& c : sys.calls) {
    if (c.rfind(std::string("IniWrite ") + kStore + " [a.test]", 0) == 0) writes.push_back(c.substr(c.find(']') + 2));
  }
  EXPECT_EQ(writes, (std::vector<std::string>{"xl=198.51.100.1", "bz=甲", "zt=1", "xl=192.0.2.1", "bz=甲", "zt=1"}));
}

TEST_F(ImportTest, AWzSectionEndsTheImportAfterTheOnesBeforeIt) {
  Section("a.test", {{"xl", "192.0.2.1"}});
  Section("b.test", {{"xl", "192.0.2.1"}});
  Section("c.test", {{"xl", "192.0.2.1"}, {"wz", "2"}});
  Section("d.test", {{"xl", "192.0.2.1"}});
  ui.answers.push_back(AnswerOk);
  Import("");
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kRefused, Count(2)}));
  EXPECT_EQ(ui.rows.size(), 2u);
  EXPECT_EQ(Stored("d.test", "xl"), "(none)");
}

TEST_F(ImportTest, StrangersSectionsThatCouldReachACommandAreSkippedAndNotCounted) {
  Section("a.test&echo x>pwned", {{"xl", "192.0.2.1"}});
  Section("-d2", {{"xl", "192.0.2.1"}});
  Section("ok.test", {{"xl", "192.0.2.1 & calc"}});
  Section("noline.test", {});
  Section("good.test", {{"xl", "192.0.2.1"}, {"zt", "1"}});
  Import("");
  EXPECT_EQ(ui.rows, (std::vector<Row>{{"5", "good.test", "192.0.2.1", "以太网", "开启", ""}}));
  EXPECT_EQ(sys.IniSections(kStore), std::vector<std::string>{"good.test"});
  EXPECT_EQ(ui.boxes, std::vector<Box>{Count(1)});
}

TEST_F(ImportTest, NothingToReadCountsZeroAndAFailedStoreCountsNothing) {
  Import("");
  EXPECT_EQ(ui.boxes, std::vector<Box>{Count(0)});
  Section("a.test", {{"xl", "192.0.2.1"}});
  sys.failWrites = true;
  Import("");
  EXPECT_TRUE(ui.rows.empty());
  EXPECT_EQ(ui.boxes.back(), Count(0));
}

TEST_F(ImportTest, ConfirmChecksBothInputsAndMapsTheKeepItem) {
  ui.answers = {AnswerOk, AnswerOk};
  ConfirmImport(sys, ui);
  ui.texts[Control::组合框4] = kKeepLineItem;
  ConfirmImport(sys, ui);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"请选择是否更改配置文件中的分配线路", 0, "异常"},
                                        {"请选择需要载入的配置文件，或将配置文件拖到当前页面", 0, "异常"}}));
  Section("a.test", {{"xl", "198.51.100.1"}});
  ui.texts[Control::组合框3] = kFile;
  ui.answers = {AnswerOk};
  ConfirmImport(sys, ui);
  EXPECT_EQ(Stored("a.test", "xl"), "198.51.100.1");
}

TEST_F(ImportTest, TheFileComesFromTheDialogOrTheFirstDroppedPath) {
  ui.texts[Control::组合框3] = "/old.ini";
  ui.browseAnswers = {"", "/in/x.ini"};
  ChooseImportFile(ui);
  EXPECT_EQ(ui.texts[Control::组合框3], "/old.ini") << "a cancelled dialog changes nothing";
  ChooseImportFile(ui);
  EXPECT_EQ(ui.texts[Control::组合框3], "/in/x.ini");
  TakeDroppedFile(ui, "/tmp/a.ini\r\n/tmp/b.ini\r\n");
  EXPECT_EQ(ui.texts[Control::组合框3], "/tmp/a.ini");
  TakeDroppedFile(ui, "/tmp/c.ini");
  EXPECT_EQ(ui.texts[Control::组合框3], "/tmp/c.ini");
}

}  // namespace
}  // namespace quillon::importing
