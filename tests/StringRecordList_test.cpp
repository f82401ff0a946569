#include "TemplateList/StringRecordList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>

#include "StringUnit/Assertion.h"

// Counts the heap blocks created and alive, so that tests can count the
// string cells that the list creates and releases (items of up to 7
// characters need no block of their own).
static std::atomic<long> gCreatedBlocks{0};
static std::atomic<long> gLiveBlocks{0};
void* operator new(std::size_t Size) {
  if (void* Block = std::malloc(Size == 0 ? 1 : Size))
    return ++gCreatedBlocks, ++gLiveBlocks, Block;
  throw std::bad_alloc();
}
void operator delete(void* Block) noexcept {
  if (Block != nullptr) --gLiveBlocks, std::free(Block);
}
void operator delete(void* Block, std::size_t) noexcept {
  operator delete(Block);
}

namespace quillet {
namespace {

using Strings = std::vector<String>;

Strings ItemsOf(const TRecordList& L) {
  Strings Items;
  for (int32_t I = 0; I < L.Count(); ++I) Items.push_back(L.Items(I));
  return Items;
}

void Fill(TRecordList& L, const Strings& Items) {
  L.SetCount(0);
  for (const String& Item : Items) L.Add(Item);
}

TEST(LineList, SetTextSplitsAtEachBreakKeepingIt) {
  const std::pair<String, Strings> Cases[] = {
      {u"", {}},
      {u"abc", {u"abc"}},
      {u"a\r\nb", {u"a\r\n", u"b"}},
      {u"a\r\n", {u"a\r\n"}},
      {u"\r\n", {u"\r\n"}},
      {u"\n\r", {u"\n", u"\r"}},
      {u"\r\r\n", {u"\r", u"\r\n"}},
      {u"\n\n", {u"\n", u"\n"}},
      {u"a\rb\nc\r\n\r\nd", {u"a\r", u"b\n", u"c\r\n", u"\r\n", u"d"}},
      {u"\u3000 \t\n\xD83D\xDE00", {u"\u3000 \t\n", u"\xD83D\xDE00"}},
      {u"M\rJM\n", {u"M\r", u"JM\n"}},  // 'M' and 'J' are CR and LF plus 64
  };
  TCommonStringRecordList L;  // one list for all rows: each SetText replaces the items
  for (const auto& [Text, Items] : Cases) {
    L.SetText(Text);
    EXPECT_EQ(ItemsOf(L), Items) << testing::PrintToString(Text);
    EXPECT_EQ(L.Text(), Text);
  }
}

TEST(LineList, SetDelimitedTextDropsTheDelimiters) {
  const std::tuple<String, Strings, Strings> Cases[] = {
      {u"a,,b,", {u","}, {u"a", u"", u"b", u""}},
      {u"", {u","}, {u""}},
      {u"a,b", {}, {u"a,b"}},
      {u",a", {u","}, {u"", u"a"}},
      {u"a,,b", {u",", u",,"}, {u"a", u"", u"b"}},  // first in list order wins
      {u"a,,b", {u",,", u","}, {u"a", u"b"}},
      {u"a,b", {u"", u","}, {u"a", u"b"}},  // an empty delimiter never matches
      {u"a,b", {u""}, {u"a,b"}},
      {u"aaa", {u"aa"}, {u"", u"a"}},  // a found delimiter is not examined again
      {u"a\r\nb", {u"\r", u"\r\n"}, {u"a", u"\nb"}},
      {u"xAy", {u"a"}, {u"xAy"}},                            // exact comparison
      {u"a,", {u",x"}, {u"a,"}},                             // a delimiter must fit into the text
      {u"l,\u3000l", {u"\u3000", u","}, {u"l", u"", u"l"}},  // 'l' is ',' plus 64
  };
  TCommonStringRecordList L;
  for (const auto& [Text, Delimiters, Items] : Cases) {
    L.SetDelimitedText(Text, Delimiters);
    EXPECT_EQ(ItemsOf(L), Items) << testing::PrintToString(Text);
  }
}

TEST(LineList, GetDelimitedTextPutsTheDelimiterBetweenItems) {
  const std::tuple<Strings, String, String> Cases[] = {
      {{u"a", u"b"}, u",", u"a,b"}, {{}, u",", u""},
      {{u""}, u",", u""},           {{u"a", u"b"}, u"", u"ab"},
      {{u"", u""}, u",", u","},     {{u"a,"}, u",", u"a,"},
      {{u"a", u""}, u",", u"a,"},   {{u"a", u"b"}, u"ab", u"aabb"},
  };
  TCommonStringRecordList L;
  for (const auto& [Items, Delimiter, Text] : Cases) {
    Fill(L, Items);
    EXPECT_EQ(L.GetDelimitedText(Delimiter), Text) << testing::PrintToString(Items);
    EXPECT_EQ(ItemsOf(L), Items);
  }
}

TEST(LineList, IndexOfFindsTheLowestExactMatch) {
  TCommonStringRecordList L;
  Fill(L, {u"a", u"A", u"", u"a", u"\u3000"});
  const std::pair<String, int32_t> Cases[] = {{u"a", 0},  {u"A", 1},   {u"", 2},  {u"\u3000", 4},
                                              {u"b", -1}, {u"a ", -1}, {u" ", -1}};
  for (const auto& [Value, Index] : Cases) EXPECT_EQ(L.IndexOf(Value), Index);
}

// A split line list, checked without the splitter: the items rebuild S, each
// item but the last ends with one break, no item holds a CR or LF elsewhere,
// and no bare CR ends an item whose successor starts with LF.
void ExpectSplitOf(const TCommonStringRecordList& L, StringView S) {
  ASSERT_EQ(L.Text(), S);
  for (int32_t I = 0; I < L.Count(); ++I) {
    const String& Item = L.Items(I);
    const size_t Break =
        Item.ends_with(u"\r\n") ? 2 : (Item.ends_with(u'\r') || Item.ends_with(u'\n'));
    ASSERT_EQ(Item.find_first_of(u"\r\n"), Break == 0 ? String::npos : Item.size() - Break) << I;
    ASSERT_TRUE(Break > 0 || (I == L.Count() - 1 && !Item.empty())) << I;
    if (Break == 1 && Item.back() == u'\r' && I + 1 < L.Count()) {
      ASSERT_NE(L.Items(I + 1)[0], u'\n');
    }
  }
}

// Sets S as Text, checks the split and the round trip of the CR LF delimited form.
void ExpectRoundTrips(TCommonStringRecordList& L, const String& S) {
  SCOPED_TRACE(testing::PrintToString(S));
  L.SetText(S);
  ExpectSplitOf(L, S);
  L.SetDelimitedText(S, {u"\r\n"});
  ASSERT_EQ(L.GetDelimitedText(u"\r\n"), S);
}

TEST(LineList, EveryTextRoundTrips) {
  const char16_t Alphabet[] = {u'a', u'\r', u'\n', u' ', u'\u3000'};
  TCommonStringRecordList L;
  std::vector<String> Level{u""};  // every string of one length
  for (int Length = 0; Length <= 6; ++Length) {
    std::vector<String> Next;
    for (const String& S : Level) {
      ExpectRoundTrips(L, S);
      if (HasFatalFailure()) return;
      for (char16_t C : Alphabet) Next.push_back(S + C);
    }
    Level = std::move(Next);
  }
  std::mt19937 Random(20240611);
  for (int Round = 0; Round < 300; ++Round) {
    String S(Random() % 400, u'a');
    for (char16_t& C : S) C = Alphabet[Random() % 5];
    ExpectRoundTrips(L, S);
    if (HasFatalFailure()) return;
  }
}

TEST(LineList, CountWriteTrimsOrAppends) {
  const std::tuple<int32_t, Strings> Cases[] = {
      {4, {u"a", u"b", u"c", u""}}, {3, {u"a", u"b", u"c"}}, {1, {u"a"}}, {0, {}}};
  for (const auto& [Value, Items] : Cases) {
    TCommonStringRecordList L;
    Fill(L, {u"a", u"b", u"c"});
    const long Before = gLiveBlocks;
    L.SetCount(Value);
    EXPECT_EQ(gLiveBlocks - Before, Value - 3);  // one cell per item
    EXPECT_EQ(ItemsOf(L), Items);
  }
}

// Every bad request raises the list error and leaves items, cells and their
// addresses as they were, creating or releasing no cell.
TEST(LineList, FailedChecksChangeNothing) {
  const String Long(40, u'x');  // needs blocks of its own
  const std::function<void(TCommonStringRecordList&)> Failing[] = {
      [](auto& L) { L.Items(3); },           [](auto& L) { L.Items(-1); },
      [&](auto& L) { L.SetItems(3, Long); }, [](auto& L) { L.Delete(3); },
      [](auto& L) { L.Delete(-1); },         [&](auto& L) { L.Insert(-1, Long); },
      [&](auto& L) { L.Insert(4, Long); },   [](auto& L) { L.Exchange(0, 3); },
      [](auto& L) { L.Move(3, 0); },         [](auto& L) { L.Move(0, -1); },
      [](auto& L) { L.SetCount(-1); },       [](auto& L) { L.SetCount(MaxListSize + 1); },
  };
  for (size_t I = 0; I < std::size(Failing); ++I) {
    const long Outside = gLiveBlocks;
    bool Raised = false;
    try {
      TCommonStringRecordList L;
      Fill(L, {u"a", u"b", u"c"});
      const String* Cells[] = {&L.Items(0), &L.Items(1), &L.Items(2)};
      const long Before = gLiveBlocks;
      try {
        Failing[I](L);
      } catch (const EAssertionFailed&) {
        Raised = true;
      }
      const bool Unchanged = gLiveBlocks == Before && L.Count() == 3 && &L.Items(0) == Cells[0] &&
                             &L.Items(1) == Cells[1] && &L.Items(2) == Cells[2] &&
                             L.Text() == u"abc";
      EXPECT_TRUE(Unchanged) << I;
      Failing[I](L);  // and once more, the error passing through the list's scope
    } catch (const EAssertionFailed&) {
    }
    EXPECT_TRUE(Raised) << I;
    EXPECT_EQ(gLiveBlocks, Outside) << I;
  }
}

// Rearranging moves cell addresses only; writing an item keeps its cell.
TEST(LineList, ItemsLiveInTheirOwnCells) {
  TCommonStringRecordList L;
  L.SetText(u"a\nb\nc\nd");
  const String* A = &L.Items(0);
  const String* C = &L.Items(2);
  const String* D = &L.Items(3);
  const long Before = gLiveBlocks;
  const long Created = gCreatedBlocks;
  L.Exchange(0, 3);
  L.Move(0, 2);
  L.SetItems(1, u"x\n");
  L.Insert(4, u"e");
  L.Delete(0);
  EXPECT_EQ(gLiveBlocks, Before);
  EXPECT_EQ(gCreatedBlocks, Created + 1);  // the cell of "e" only
  EXPECT_EQ(L.Text(), u"x\nda\ne");
  const String* After[] = {&L.Items(0), &L.Items(1), &L.Items(2)};
  EXPECT_EQ(std::vector<const String*>(After, After + 3), (std::vector<const String*>{C, D, A}));
}

TEST(LineList, AssignCopiesTheItems) {
  TCommonStringRecordList Source, L;
  Source.SetText(u"a\nb");
  L.SetText(u"old");
  L.Assign(nullptr);
  L.Assign(&L);
  EXPECT_EQ(ItemsOf(L), Strings{u"old"});
  L.Assign(&Source);
  Source.SetItems(0, u"z");
  EXPECT_EQ(ItemsOf(L), (Strings{u"a\n", u"b"}));
  EXPECT_NE(&L.Items(0), &Source.Items(0));
}

// A text viewing one of the list's own items survives the clearing.
TEST(LineList, SettingAnOwnItemAsText) {
  TCommonStringRecordList L;
  L.SetText(u"x\nab,cd,ef\n");
  L.SetText(StringView(L.Items(1)).substr(3));
  EXPECT_EQ(ItemsOf(L), (Strings{u"cd,ef\n"}));
  L.SetDelimitedText(L.Items(0), {u","});
  EXPECT_EQ(ItemsOf(L), (Strings{u"cd", u"ef\n"}));
}

}  // namespace
}  // namespace quillet
