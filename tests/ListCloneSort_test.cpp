#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TemplateList/ListClone.h"

namespace quillet {
namespace {

// ---- Sort ------------------------------------------------------------------

// A sortable item: the list holds its address, Compare reads its key.
struct TKeyed {
  int Key;
  int Id;
};

// What the current Compare has seen. One test runs at a time.
struct TCompareStats {
  int64_t Calls = 0;
  int64_t ThrowAt = -1;  // the call that throws, counted from 1; -1 never
  uintptr_t LowFrame = UINTPTR_MAX;
  uintptr_t HighFrame = 0;
  std::vector<std::pair<void*, void*>> Pairs;
  bool KeepPairs = false;

  // Bytes of stack between the shallowest and the deepest call.
  uintptr_t StackSpan() const { return HighFrame - LowFrame; }
};
TCompareStats Stats;

void CountCall(void* Item1, void* Item2) {
  if (++Stats.Calls == Stats.ThrowAt) throw std::runtime_error("compare failed");
  const auto Frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  Stats.LowFrame = std::min(Stats.LowFrame, Frame);
  Stats.HighFrame = std::max(Stats.HighFrame, Frame);
  if (Stats.KeepPairs) Stats.Pairs.emplace_back(Item1, Item2);
}

int32_t CompareKeys(void* Item1, void* Item2) {
  CountCall(Item1, Item2);
  const int A = static_cast<TKeyed*>(Item1)->Key;
  const int B = static_cast<TKeyed*>(Item2)->Key;
  return A < B ? -1 : A > B ? 1 : 0;
}

int32_t CompareAllEqual(void* Item1, void* Item2) {
  CountCall(Item1, Item2);
  return 0;
}

class TSortTest : public testing::Test {
 protected:
  void SetUp() override { Stats = {}; }

  // A list holding the addresses of Items in order.
  static void Fill(TListClone& List, std::vector<TKeyed>& Items) {
    List.SetCapacity(static_cast<int32_t>(Items.size()));
    for (TKeyed& Item : Items) List.Add(&Item);
  }
  static std::vector<TKeyed> Keyed(const std::vector<int>& Keys) {
    std::vector<TKeyed> Items;
    for (const int Key : Keys) Items.push_back({Key, static_cast<int>(Items.size())});
    return Items;
  }
  static std::vector<int> Keys(const TListClone& List) {
    std::vector<int> Out;
    for (int32_t I = 0; I < List.Count(); ++I)
      Out.push_back(static_cast<TKeyed*>(List.Items(I))->Key);
    return Out;
  }
  static std::vector<int> Ids(const TListClone& List) {
    std::vector<int> Out;
    for (int32_t I = 0; I < List.Count(); ++I)
      Out.push_back(static_cast<TKeyed*>(List.Items(I))->Id);
    return Out;
  }
  // True when List holds each of Items exactly once.
  static bool IsPermutationOf(const TListClone& List, std::vector<TKeyed>& Items) {
    std::vector<void*> Held(List.List(), List.List() + List.Count());
    std::vector<void*> Expected;
    for (TKeyed& Item : Items) Expected.push_back(&Item);
    std::sort(Held.begin(), Held.end());
    return Held == Expected;  // Items is a vector, so its addresses ascend
  }
};

TEST_F(TSortTest, OrdersLikeStdSort) {
  std::mt19937 Random(2024);
  std::vector<int> Sizes;
  for (int Size = 0; Size <= 40; ++Size) Sizes.push_back(Size);
  Sizes.insert(Sizes.end(), {63, 64, 65, 100, 257, 1000, 4097});
  for (const int Size : Sizes) {
    for (const int KeyRange : {Size * 4 + 1, 3}) {  // distinct keys, then many equal ones
      std::vector<int> Source(Size);
      if (KeyRange > Size) {
        for (int I = 0; I < Size; ++I) Source[I] = I * 4 + static_cast<int>(Random() % 4);
        std::shuffle(Source.begin(), Source.end(), Random);
      } else {
        for (int& Key : Source) Key = static_cast<int>(Random() % KeyRange);
      }
      std::vector<TKeyed> Items = Keyed(Source);
      TListClone List;
      Fill(List, Items);
      List.Sort(CompareKeys);
      std::sort(Source.begin(), Source.end());
      SCOPED_TRACE("size " + std::to_string(Size) + ", key range " + std::to_string(KeyRange));
      EXPECT_EQ(Keys(List), Source);
      EXPECT_TRUE(IsPermutationOf(List, Items));
      EXPECT_EQ(List.Capacity(), Size);
    }
  }
}

// Worked through the algorithm by hand: equal keys end in this order, after
// exactly this many comparisons. Ids are the items' starting positions.
TEST_F(TSortTest, EqualKeysEndInTheAlgorithmsOrder) {
  struct Case {
    std::vector<int> Keys;
    std::vector<int> ExpectedIds;
    int64_t ExpectedCalls;
  } const Cases[] = {
      {{0, 0, 0}, {2, 1, 0}, 4},
      {{0, 0, 0, 0}, {2, 3, 0, 1}, 8},
      {{1, 0, 1, 0, 1}, {3, 1, 4, 0, 2}, 11},
      {{2, 1, 2, 1, 2, 1}, {3, 1, 5, 4, 0, 2}, 17},
  };
  for (const Case& C : Cases) {
    Stats = {};
    std::vector<TKeyed> Items = Keyed(C.Keys);
    TListClone List;
    Fill(List, Items);
    List.Sort(CompareKeys);
    EXPECT_EQ(Ids(List), C.ExpectedIds) << "keys " << testing::PrintToString(C.Keys);
    EXPECT_EQ(Stats.Calls, C.ExpectedCalls) << "keys " << testing::PrintToString(C.Keys);
  }
}

TEST_F(TSortTest, OneItemIsComparedWithItselfTwice) {
  std::vector<TKeyed> Items = Keyed({7});
  TListClone List;
  Fill(List, Items);
  Stats.KeepPairs = true;
  List.Sort(CompareKeys);
  const std::pair<void*, void*> Self{&Items[0], &Items[0]};
  EXPECT_EQ(Stats.Pairs, (std::vector{Self, Self}));
  EXPECT_EQ(Ids(List), std::vector{0});
}

// The pivot is the middle item of each part, always handed second.
TEST_F(TSortTest, ComparesEachSlotAgainstTheMiddlePivot) {
  std::vector<TKeyed> Items = Keyed({3, 1, 2});
  TListClone List;
  Fill(List, Items);
  Stats.KeepPairs = true;
  List.Sort(CompareKeys);
  void* const A = &Items[0];
  void* const B = &Items[1];
  void* const C = &Items[2];
  // Pass (0, 2) around B stops I at A and J at B: B A C. The left part
  // (0, 0) is done; the right part (1, 2) goes around A: C A.
  const std::vector<std::pair<void*, void*>> Expected{{A, B}, {C, B}, {B, B}, {A, A}, {C, A}};
  EXPECT_EQ(Stats.Pairs, Expected);
  EXPECT_EQ(Ids(List), (std::vector{1, 2, 0}));
}

TEST_F(TSortTest, AllEqualTerminatesAndKeepsItems) {
  for (const int Size : {2, 3, 17, 1000}) {
    std::vector<TKeyed> Items = Keyed(std::vector<int>(Size, 5));
    TListClone List;
    Fill(List, Items);
    List.Sort(CompareAllEqual);
    EXPECT_TRUE(IsPermutationOf(List, Items)) << Size;
  }
}

TEST_F(TSortTest, ListWithoutItemsNeverCompares) {
  TListClone Fresh;
  TListClone Emptied;  // storage, no items
  Emptied.Add(nullptr);
  Emptied.Delete(0);
  TListClone Reserved;
  Reserved.SetCapacity(8);
  for (TListClone* List : {&Fresh, &Emptied, &Reserved}) {
    const int32_t Capacity = List->Capacity();
    List->Sort(CompareKeys);
    EXPECT_EQ(List->Count(), 0);
    EXPECT_EQ(List->Capacity(), Capacity);
  }
  EXPECT_EQ(Stats.Calls, 0);
}

TEST_F(TSortTest, ThrowingCompareLeavesAPermutation) {
  std::mt19937 Random(7);
  std::vector<int> Source(300);
  for (int& Key : Source) Key = static_cast<int>(Random() % 50);
  for (const int64_t ThrowAt : {1, 2, 40, 301, 1500, 2500}) {
    Stats = {};
    Stats.ThrowAt = ThrowAt;
    std::vector<TKeyed> Items = Keyed(Source);
    TListClone List;
    Fill(List, Items);
    EXPECT_THROW(List.Sort(CompareKeys), std::runtime_error) << ThrowAt;
    EXPECT_EQ(Stats.Calls, ThrowAt);
    EXPECT_EQ(List.Count(), 300);
    EXPECT_TRUE(IsPermutationOf(List, Items)) << ThrowAt;
  }
}

// Sorted, reversed and all-equal inputs split evenly around the middle pivot:
// O(n log n) comparisons and a recursion depth of about log2 n.
TEST_F(TSortTest, MillionOrderedItemsStayNLogN) {
  constexpr int N = 1'000'000;
  const double Bound = 2.0 * N * std::log2(N);
  struct Case {
    const char* Name;
    int (*Key)(int);
  } const Cases[] = {
      {"sorted", [](int I) { return I; }},
      {"reversed", [](int I) { return N - I; }},
      {"all equal", [](int) { return 0; }},
  };
  for (const Case& C : Cases) {
    Stats = {};
    std::vector<int> Source(N);
    for (int I = 0; I < N; ++I) Source[I] = C.Key(I);
    std::vector<TKeyed> Items = Keyed(Source);
    TListClone List;
    Fill(List, Items);
    List.Sort(CompareKeys);
    std::sort(Source.begin(), Source.end());
    EXPECT_TRUE(Keys(List) == Source) << C.Name;
    EXPECT_LE(Stats.Calls, Bound) << C.Name;
    // Some forty frames at most; a frame takes far less than 512 bytes.
    EXPECT_LT(Stats.StackSpan(), 40u * 512u) << C.Name;
  }
}

// The keys of an input whose middle item is the largest of every part: each
// pass of the sort peels off one item. Found by sorting placeholders, each
// pivot taking the largest key not yet handed out when first seen.
std::vector<int> MiddleMaximumKeys(int N) {
  std::vector<TKeyed> Placeholders(N, TKeyed{-1, 0});
  static int NextKey;
  NextKey = N;
  TListClone Builder;
  for (TKeyed& Item : Placeholders) Builder.Add(&Item);
  Builder.Sort([](void* Item1, void* Item2) -> int32_t {
    auto* Slot = static_cast<TKeyed*>(Item1);
    auto* Pivot = static_cast<TKeyed*>(Item2);
    if (Pivot->Key < 0) Pivot->Key = NextKey--;
    return Slot->Key < Pivot->Key ? -1 : Slot->Key > Pivot->Key ? 1 : 0;
  });
  std::vector<int> Keys;
  for (const TKeyed& Item : Placeholders) Keys.push_back(std::max(Item.Key, 0));
  return Keys;
}

// The partition sort as first written, recursing into the left part always.
void LeftRecursiveSort(std::vector<void*>& Slots, int L, int R) {
  int I;
  do {
    I = L;
    int J = R;
    void* const Pivot = Slots[(L + R) / 2];
    do {
      while (CompareKeys(Slots[I], Pivot) < 0) ++I;
      while (CompareKeys(Slots[J], Pivot) > 0) --J;
      if (I <= J) std::swap(Slots[I++], Slots[J--]);
    } while (I <= J);
    if (L < J) LeftRecursiveSort(Slots, L, J);
    L = I;
  } while (I < R);
}

// Sorting the smaller part first moves equal items exactly as the left-first
// order does, with the same number of comparisons.
TEST_F(TSortTest, SameOrderAsLeftFirstRecursion) {
  std::mt19937 Rng(5);
  for (int Size = 1; Size < 300; Size += 7) {
    std::uniform_int_distribution<int> Key(0, Size / 4);
    std::vector<int> Source(Size);
    for (int& K : Source) K = Key(Rng);
    std::vector<TKeyed> Items = Keyed(Source);
    std::vector<void*> Reference;
    for (TKeyed& Item : Items) Reference.push_back(&Item);
    Stats = {};
    LeftRecursiveSort(Reference, 0, Size - 1);
    const int64_t ReferenceCalls = Stats.Calls;
    TListClone List;
    Fill(List, Items);
    Stats = {};
    List.Sort(CompareKeys);
    EXPECT_EQ(Stats.Calls, ReferenceCalls) << Size;
    for (int I = 0; I < Size; ++I) ASSERT_EQ(List.Items(I), Reference[I]) << Size;
  }
}

// Inputs that split off one or two items per pass take comparisons in n
// squared, but the recursion stays shallow: the smaller part is the one
// recursed into. An ascending run followed by a descending one is such an
// input.
TEST_F(TSortTest, UnevenSplitsAreQuadraticButShallow) {
  constexpr int N = 1500;
  std::vector<int> OrganPipe(N);
  for (int I = 0; I < N; ++I) OrganPipe[I] = std::min(I, N - I);
  for (std::vector<int> Source : {MiddleMaximumKeys(N), OrganPipe}) {
    Stats = {};
    std::vector<TKeyed> Items = Keyed(Source);
    TListClone List;
    Fill(List, Items);
    List.Sort(CompareKeys);
    std::sort(Source.begin(), Source.end());
    EXPECT_EQ(Keys(List), Source);
    EXPECT_GE(Stats.Calls, int64_t{N} * N / 5);
    EXPECT_LT(Stats.StackSpan(), uintptr_t{4096});  // a few frames, not N
  }
}

TEST_F(TSortTest, SortNotifiesNothing) {
  class TCountingList : public TListClone {
   public:
    int Notified = 0;

   protected:
    void Notify(void*, TListCloneNotifyAction) override { ++Notified; }
  } List;
  std::vector<TKeyed> Items = Keyed({4, 2, 9, 1});
  Fill(List, Items);
  List.Notified = 0;
  List.Sort(CompareKeys);
  EXPECT_EQ(Keys(List), (std::vector{1, 2, 4, 9}));
  EXPECT_EQ(List.Notified, 0);
}

// ---- Assign ----------------------------------------------------------------

// Item addresses that are never followed; 0 stands for null.
char Pool[64];
void* P(int Id) {
  return Id == 0 ? nullptr : Pool + Id;
}
int IdOf(void* Item) {
  return Item == nullptr ? 0 : static_cast<int>(static_cast<char*>(Item) - Pool);
}

// Records every notification as "+3" (added), "-3" (deleted) or "x3"
// (extracted); throws from the addition of ThrowOnAdd.
class TLoggingList : public TListClone {
 public:
  std::string Log;
  int ThrowOnAdd = -1;

  explicit TLoggingList(std::initializer_list<int> Ids = {}) {
    for (const int Id : Ids) Add(P(Id));
    Log.clear();
  }
  ~TLoggingList() override { Clear(); }

  std::vector<int> Ids() const {
    std::vector<int> Out;
    for (int32_t I = 0; I < Count(); ++I) Out.push_back(IdOf(Items(I)));
    return Out;
  }

 protected:
  void Notify(void* Item, TListCloneNotifyAction Action) override {
    if (Action == naAdded && IdOf(Item) == ThrowOnAdd) throw std::runtime_error("notify failed");
    Log += Action == naAdded ? '+' : Action == naDeleted ? '-' : 'x';
    Log += std::to_string(IdOf(Item));
  }
};

TEST(ListCloneAssign, SetOperationsOnOneTwoThreeFourFiveAndThreeFourSix) {
  struct Case {
    TListCloneAssignOp Op;
    std::vector<int> Expected;
    std::string ExpectedLog;
  } const Cases[] = {
      {laCopy, {3, 4, 6}, "-5-4-3-2-1+3+4+6"}, {laAnd, {3, 4}, "-5-2-1"},
      {laOr, {1, 2, 3, 4, 5, 6}, "+6"},        {laXor, {1, 2, 5, 6}, "-4-3+6"},
      {laSrcUnique, {1, 2, 5}, "-4-3"},        {laDestUnique, {6}, "-5-4-3-2-1+6"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(static_cast<int>(C.Op));
    const TLoggingList Source{3, 4, 6};
    TLoggingList Two{1, 2, 3, 4, 5};
    Two.Assign(Source, C.Op);
    EXPECT_EQ(Two.Ids(), C.Expected);
    EXPECT_EQ(Two.Log, C.ExpectedLog);
    EXPECT_EQ(Source.Ids(), (std::vector{3, 4, 6}));

    // With a third list, the former items play no part.
    const TLoggingList First{1, 2, 3, 4, 5};
    TLoggingList Three{7, 3, 0, 8};
    Three.Assign(First, C.Op, &Source);
    EXPECT_EQ(Three.Ids(), C.Expected);
    EXPECT_EQ(Three.Log, "-8-3-7+1+2+3+4+5" + C.ExpectedLog);
  }
}

TEST(ListCloneAssign, OrderDuplicatesNullsAndCapacity) {
  struct Case {
    const char* Name;
    std::initializer_list<int> Dest;
    int32_t DestCapacity;  // -1: as Add left it
    std::initializer_list<int> Source;
    int32_t SourceCapacity;
    TListCloneAssignOp Op;
    std::vector<int> Expected;
    int32_t ExpectedCapacity;  // -1: not checked
    std::string ExpectedLog;
  } const Cases[] = {
      {"dest unique walks the source backward",
       {1, 2},
       -1,
       {3, 4, 1, 5},
       -1,
       laDestUnique,
       {5, 4, 3},
       4,
       "-2-1+5+4+3"},
      {"dest unique capacity is the source count",
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       -1,
       {1, 2},
       40,
       laDestUnique,
       {},
       2,
       "-9-8-7-6-5-4-3-2-1"},
      {"or adds a repeated item once", {1}, -1, {2, 2}, -1, laOr, {1, 2}, -1, "+2"},
      {"xor adds a repeated item twice", {1}, -1, {2, 2}, -1, laXor, {1, 2, 2}, -1, "+2+2"},
      {"xor grows once to exactly the result",
       {1},
       1,
       {2, 3, 4},
       -1,
       laXor,
       {1, 2, 3, 4},
       4,
       "+2+3+4"},
      {"xor keeps a large enough capacity", {1, 2}, 30, {2, 3}, -1, laXor, {1, 3}, 30, "-2+3"},
      {"copy takes the source capacity", {9}, -1, {1, 2, 3}, 12, laCopy, {1, 2, 3}, 12, "-9+1+2+3"},
      {"copy keeps nulls and duplicates",
       {},
       -1,
       {0, 1, 1, 0},
       -1,
       laCopy,
       {0, 1, 1, 0},
       4,
       "+1+1"},
      {"and keeps duplicates and nulls that the source holds",
       {1, 0, 2, 1, 0},
       -1,
       {1, 0},
       -1,
       laAnd,
       {1, 0, 1, 0},
       -1,
       "-2"},
      {"src unique deletes every copy", {1, 2, 1, 3}, -1, {1}, -1, laSrcUnique, {2, 3}, -1, "-1-1"},
      {"and with an empty source", {1, 2}, -1, {}, -1, laAnd, {}, 4, "-2-1"},
      {"or with an empty source", {1, 2}, -1, {}, -1, laOr, {1, 2}, 4, ""},
      {"xor with an empty source", {1, 2}, -1, {}, -1, laXor, {1, 2}, 4, ""},
      {"copy of an empty source", {1, 2}, -1, {}, -1, laCopy, {}, 0, "-2-1"},
      {"or onto an empty list", {}, -1, {2, 0, 3}, -1, laOr, {2, 0, 3}, -1, "+2+3"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TLoggingList Source(C.Source);
    if (C.SourceCapacity >= 0) Source.SetCapacity(C.SourceCapacity);
    TLoggingList List(C.Dest);
    if (C.DestCapacity >= 0) List.SetCapacity(C.DestCapacity);
    List.Assign(Source, C.Op);
    EXPECT_EQ(List.Ids(), C.Expected);
    if (C.ExpectedCapacity >= 0) {
      EXPECT_EQ(List.Capacity(), C.ExpectedCapacity);
    }
    EXPECT_EQ(List.Log, C.ExpectedLog);
  }
}

// A list handed in as its own source is read as it was before the call.
TEST(ListCloneAssign, SourceThatIsThisList) {
  struct Case {
    TListCloneAssignOp Op;
    std::vector<int> Alone;  // Assign(this, Op)
    std::string AloneLog;
    std::vector<int> AsListB;  // Assign(Other, Op, &this)
  } const Cases[] = {
      {laCopy, {1, 2, 3}, "", {1, 2, 3}},  {laAnd, {1, 2, 3}, "", {3}},
      {laOr, {1, 2, 3}, "", {3, 4, 1, 2}}, {laXor, {}, "-3-2-1", {4, 1, 2}},
      {laSrcUnique, {}, "-3-2-1", {4}},    {laDestUnique, {}, "-3-2-1", {2, 1}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(static_cast<int>(C.Op));
    TLoggingList List{1, 2, 3};
    List.Assign(List, C.Op);
    EXPECT_EQ(List.Ids(), C.Alone);
    EXPECT_EQ(List.Log, C.AloneLog);

    const TLoggingList Other{3, 4};
    TLoggingList Target{1, 2, 3};
    Target.Assign(Other, C.Op, &Target);
    EXPECT_EQ(Target.Ids(), C.AsListB);
  }
}

// An error inside an operation reaches the caller; the list stays whole.
TEST(ListCloneAssign, ErrorFromAnOperationPassesThrough) {
  for (const TListCloneAssignOp Op : {laCopy, laOr, laXor, laDestUnique}) {
    SCOPED_TRACE(static_cast<int>(Op));
    const TLoggingList Source{3, 6, 7};
    TLoggingList List{1, 2, 3};
    List.ThrowOnAdd = 6;
    EXPECT_THROW(List.Assign(Source, Op), std::runtime_error);
    EXPECT_LE(List.Count(), List.Capacity());
    EXPECT_GE(List.IndexOf(P(6)), 0);  // stored before it was notified
  }
}

}  // namespace
}  // namespace quillet
