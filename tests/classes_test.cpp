// The class library: component ownership, lists, memory stream, string list.
#include "platform/classes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::TComponent;
using platform::TMemoryStream;
using platform::TObject;
using platform::TStringList;

// Counts its own destruction.
class counted : public TObject {
 public:
  explicit counted(int* freed) : freed_(freed) {}
  ~counted() override { ++*freed_; }

 private:
  int* freed_;
};

class counted_component : public TComponent {
 public:
  counted_component(TComponent* owner, std::vector<int>* log, int id)
      : TComponent(owner), log_(log), id_(id) {}
  ~counted_component() override { log_->push_back(id_); }

 private:
  std::vector<int>* log_;
  int id_;
};

// A component freed early leaves its owner; the owner frees the rest, the
// last first.
TEST(Component, OwnerFreesWhatItOwnsLastFirstAndWhatIsFreedEarlyLeavesIt) {
  std::vector<int> log;
  auto* owner = new counted_component(nullptr, &log, 0);
  new counted_component(owner, &log, 1);
  auto* second = new counted_component(owner, &log, 2);
  new counted_component(second, &log, 3);
  delete new counted_component(owner, &log, 4);
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner;
  // Each destructor logs before its component part frees what it owns.
  EXPECT_EQ(log, (std::vector<int>{4, 0, 2, 3, 1}));
}

TEST(List, KeepsOrderAndReportsBadIndexes) {
  platform::TList list;
  int freed = 0;
  counted a(&freed), b(&freed), c(&freed);
  list.Add(&a);
  list.Add(&b);
  list.Insert(0, &c);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.First(), &c);
  EXPECT_EQ(list.Last(), &b);
  EXPECT_EQ(list.Remove(&a), 1);
  EXPECT_EQ(list.IndexOf(&a), -1);
  list.Delete(0);
  EXPECT_EQ(list.First(), &b);
  EXPECT_THROW(list.Items(1), platform::EListError);
  EXPECT_THROW(list.Delete(-1), platform::EListError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(freed, 0) << "a list owns nothing";
}

TEST(MemoryStream, WritesGrowReadsStopAtTheEnd) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Write("hello", 5), 5u);
  EXPECT_EQ(stream.Position(), 5u);
  stream.SetPosition(1);
  char buffer[10] = {};
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "ello");
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
  stream.SetPosition(2);
  stream.Write("LLOW", 4);
  EXPECT_EQ(stream.View(), "heLLOW");
}

TEST(MemoryStream, SeekSizeAndClear) {
  TMemoryStream stream;
  stream.Write("abcdef", 6);
  EXPECT_EQ(stream.Seek(-2, platform::soEnd), 4u);
  EXPECT_EQ(stream.Seek(-1, platform::soCurrent), 3u);
  EXPECT_EQ(stream.Seek(-10, platform::soCurrent), 0u) << "never before the first byte";
  stream.SetPosition(5);
  stream.SetSize(3);
  EXPECT_EQ(stream.Position(), 3u) << "a position beyond the new size moves to the end";
  stream.SetPosition(5);
  stream.Write("z", 1);
  EXPECT_EQ(stream.View(), std::string("abc\0\0z", 6)) << "a gap reads as zero bytes";
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0u);
  EXPECT_EQ(stream.Position(), 0u);
}

TEST(StringList, ItemsWithObjects) {
  int freed = 0;
  TStringList list;
  counted object(&freed);
  EXPECT_EQ(list.Add("a"), 0);
  EXPECT_EQ(list.AddObject("b", &object), 1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1], "b");
  EXPECT_EQ(list.Objects(1), &object);
  EXPECT_EQ(list.Objects(0), nullptr);
  EXPECT_EQ(list.IndexOf("b"), 1);
  list.Delete(0);
  EXPECT_EQ(list[0], "b");
  EXPECT_THROW(list.Strings(1), platform::EListError);
  list.Clear();
  EXPECT_EQ(freed, 0) << "a list that does not own its objects never frees them";
}

TEST(StringList, OwningListFreesObjectsOnDeleteReplaceClearAndEnd) {
  int freed = 0;
  {
    TStringList list(true);
    list.AddObject("a", new counted(&freed));
    list.AddObject("b", new counted(&freed));
    list.AddObject("c", new counted(&freed));
    list.AddObject("d", new counted(&freed));
    list.Delete(0);
    EXPECT_EQ(freed, 1);
    list.SetObject(0, new counted(&freed));
    EXPECT_EQ(freed, 2);
    list.Delete(2);
    EXPECT_EQ(freed, 3);
  }
  EXPECT_EQ(freed, 5);
}

TEST(StringList, AssignCopiesTextsOnly) {
  int freed = 0;
  TStringList source(true);
  source.AddObject("x", new counted(&freed));
  source.Add("");
  TStringList target;
  target.Add("old");
  target.Assign(source);
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(target[0], "x");
  EXPECT_EQ(target.Objects(0), nullptr);
  EXPECT_EQ(target[1], "");
}

struct lines_row {
  std::string bytes;
  std::vector<std::string> lines;
  const char* why;
};

void PrintTo(const lines_row& row, std::ostream* out) { *out << row.why; }

class LoadFromStream : public testing::TestWithParam<lines_row> {};

// Each row comes after a line that is skipped: the reading starts at the
// stream's position.
TEST_P(LoadFromStream, SplitsLinesFromThePosition) {
  const lines_row& row = GetParam();
  TMemoryStream stream;
  const std::string bytes = "skip\n" + row.bytes;
  stream.Write(bytes.data(), bytes.size());
  stream.SetPosition(5);
  TStringList list;
  list.Add("replaced");
  list.LoadFromStream(stream);
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
  EXPECT_EQ(lines, row.lines) << row.why;
  std::string text;
  for (const auto& line : row.lines) text += line + "\r\n";
  EXPECT_EQ(list.Text(), text) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LoadFromStream,
    testing::Values(
        lines_row{"", {}, "an empty stream gives no line"},
        lines_row{"a\r\nb\r\n", {"a", "b"}, "CR LF ends a line; a final end adds no empty line"},
        lines_row{"a\nb", {"a", "b"}, "LF alone; a last line without an end counts"},
        lines_row{"a\rb", {"a", "b"}, "CR alone"},
        lines_row{"a\r\rb", {"a", "", "b"}, "two CRs are two ends"},
        lines_row{"a\n\rb", {"a", "", "b"}, "LF CR is two ends"},
        lines_row{"a\r\n\r\nb", {"a", "", "b"}, "an empty line between"},
        lines_row{std::string("ab\0cd\ne", 7), {"ab"}, "a zero byte ends the text"},
        lines_row{"\n", {""}, "one empty line"}));

}  // namespace
