#include "TemplateList/ListClone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <new>
#include <vector>

#include "StringUnit/Assertion.h"

// The out-of-memory test limits the address space, which sanitizers need.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define QUILLET_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLET_SANITIZED 1
#endif
#if defined(__linux__) && !defined(QUILLET_SANITIZED)
#define QUILLET_LIMIT_ADDRESS_SPACE 1
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace quillet {
namespace {

// Item addresses: never followed by the list. Id 0 stands for null.
char Pool[512];
void* P(int Id) {
  return Id == 0 ? nullptr : Pool + Id;
}

using Event = std::pair<void*, TListCloneNotifyAction>;

class TLoggingList : public TListClone {
 public:
  std::vector<Event> Log;

 protected:
  void Notify(void* Item, TListCloneNotifyAction Action) override {
    Log.emplace_back(Item, Action);
  }
};

struct Snapshot {
  std::vector<void*> Items;
  int32_t Capacity;
  bool operator==(const Snapshot&) const = default;
};
Snapshot Snap(const TListClone& L) {
  return {std::vector<void*>(L.List(), L.List() + L.Count()), L.Capacity()};
}

void ExpectListError(const std::function<void()>& Run) {
  try {
    Run();
    ADD_FAILURE() << "no error raised";
  } catch (const EAssertionFailed& E) {
    EXPECT_STREQ(E.what(), "Listエラー (TemplateList\\ListClone, 127 行)");
    EXPECT_EQ(E.Line(), 127);
  }
}

// Capacities reached by appending one item at a time to an empty list.
constexpr int32_t kSteps[] = {0, 4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228};
// The capacity after growing from Capacity, one of kSteps.
int32_t NextStep(int32_t Capacity) {
  return *std::upper_bound(std::begin(kSteps), std::end(kSteps), Capacity);
}

TEST(ListClone, AppendingGrowsByTheSteps) {
  TListClone L;
  std::vector<int32_t> Seen{L.Capacity()};
  for (int32_t I = 0; I <= 183; ++I) {
    const bool Full = L.Count() == L.Capacity();
    EXPECT_EQ(L.Add(P(1)), I);
    if (Full) Seen.push_back(L.Capacity());
  }
  EXPECT_EQ(Seen, std::vector<int32_t>(std::begin(kSteps), std::end(kSteps)));
  EXPECT_EQ(L.Expand().Capacity(), 228);  // not full: no step
  L.SetCount(228);
  EXPECT_EQ(L.Expand().Capacity(), 285);
}

// Sizes on both sides of every growth step.
std::vector<int32_t> StepSizes() {
  std::vector<int32_t> Sizes{0, 1};
  for (int32_t Step : kSteps) {
    if (Step > 1 && Step < 228) Sizes.insert(Sizes.end(), {Step - 1, Step, Step + 1});
  }
  return Sizes;
}

// Runs the same operations on a list and on a plain vector model, and
// predicts the capacity and the notifications.
class ListAtSize : public testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override {
    for (int32_t I = 0; I < GetParam(); ++I) AddBoth(P(1 + I % 200));
  }
  // Records what inserting Item at Index must do; Cap is one of kSteps.
  void Put(int32_t Index, void* Item) {
    if (Size() == Cap) Cap = NextStep(Cap);
    Model.insert(Model.begin() + Index, Item);
    if (Item) Expected.emplace_back(Item, naAdded);
  }
  void AddBoth(void* Item) {
    Put(Size(), Item);
    EXPECT_EQ(L.Add(Item), Size() - 1);
  }
  void InsertBoth(int32_t Index, void* Item) { Put(Index, Item), L.Insert(Index, Item); }
  void Take(int32_t Index, TListCloneNotifyAction Action = naDeleted) {
    if (Model[Index] || Action == naExtracted) Expected.emplace_back(Model[Index], Action);
    Model.erase(Model.begin() + Index);
  }
  // Takes the items from the end down to index To, last first.
  void TakeFrom(int32_t To) {
    while (Size() > To) Take(Size() - 1);
  }
  void SetCountBoth(int32_t To) {
    TakeFrom(To);
    Cap = std::max(Cap, To);
    Model.resize(To);
    L.SetCount(To);
  }
  void MoveBoth(int32_t From, int32_t To) {
    void* Item = Model[From];
    Model.erase(Model.begin() + From);
    Model.insert(Model.begin() + To, Item);
    L.Move(From, To);
  }
  int32_t Size() const { return static_cast<int32_t>(Model.size()); }
  int32_t Find(void* Item) const {
    auto It = std::find(Model.begin(), Model.end(), Item);
    return It == Model.end() ? -1 : static_cast<int32_t>(It - Model.begin());
  }
  void RemoveBoth(void* Item) {
    const int32_t I = Find(Item);
    if (I >= 0) Take(I);
    EXPECT_EQ(L.Remove(Item), I);
  }
  void ExtractBoth(void* Item) {
    const int32_t I = Find(Item);
    if (I >= 0) Take(I, naExtracted);
    EXPECT_EQ(L.Extract(Item), I < 0 ? nullptr : Item);
  }

  TLoggingList L;
  std::vector<void*> Model;
  std::vector<Event> Expected;
  int32_t Cap = 0;
};

TEST_P(ListAtSize, OperationsMatchTheModel) {
  void* const X = P(300);
  void* const Y = P(301);
  // clang-format off
  const std::vector<std::pair<const char*, std::function<void()>>> Steps = {
      {"Insert", [&] { InsertBoth(0, X), InsertBoth(Size() / 2, Y), InsertBoth(Size(), Y); }},
      {"Insert null", [&] { InsertBoth(1, nullptr); }},
      {"Move", [&] { MoveBoth(0, Size() - 1), MoveBoth(Size() - 1, 1), L.Move(1, 1); }},
      {"Exchange", [&] { std::swap(Model.front(), Model.back()), L.Exchange(0, Size() - 1); }},
      {"Delete", [&] { const int32_t I = Size() / 2; Take(I), L.Delete(I); }},
      {"Remove", [&] { RemoveBoth(Y), RemoveBoth(P(400)); }},
      {"Extract", [&] { ExtractBoth(X), ExtractBoth(P(400)), ExtractBoth(nullptr); }},
      {"Pack", [&] {
         AddBoth(nullptr), InsertBoth(0, nullptr);
         std::erase(Model, nullptr), L.Pack();
       }},
      {"IndexOf, First, Last", [&] {
         for (void* Item : Model) EXPECT_EQ(L.IndexOf(Item), Find(Item));
         if (Model.empty()) return;
         EXPECT_EQ(L.First(), Model.front());
         EXPECT_EQ(L.Last(), Model.back());
       }},
      {"Count down", [&] { SetCountBoth(Size() / 2); }},
      {"Count up", [&] { SetCountBoth(Size() + 3), SetCountBoth(Cap + 1); }},
      {"Capacity to Count", [&] { Cap = Size(), L.SetCapacity(Size()); }},
      {"Clear", [&] { TakeFrom(0), Cap = 0, L.Clear(), L.Move(2, 2); }},
  };
  // clang-format on
  for (const auto& [Name, Run] : Steps) {
    Run();
    ASSERT_EQ(Snap(L), Snapshot({Model, Cap})) << Name;
    ASSERT_EQ(L.Log, Expected) << Name;
  }
  EXPECT_EQ(L.List(), nullptr);
}

TEST_P(ListAtSize, FailedChecksChangeNothing) {
  const int32_t C = L.Count();
  void* const X = P(5);
  // clang-format off
  std::vector<std::function<void()>> Failing = {
      [&] { L.Items(-1); },        [&] { L.Items(C); },          [&] { L.Items(INT32_MIN); },
      [&] { L.Insert(-1, X); },    [&] { L.Insert(C + 1, X); },  [&] { L.Insert(INT32_MAX, X); },
      [&] { L.Delete(-1); },       [&] { L.Delete(C); },         [&] { L.Exchange(C, 0); },
      [&] { L.Exchange(0, C); },   [&] { L.Move(C + 1, 0); },    [&] { L.Move(C + 1, C); },
      [&] { L.Move(-1, 0); },      [&] { L.SetCapacity(C - 1); },
      [&] { L.SetCapacity(MaxListSize + 1); },                   [&] { L.SetCount(-1); },
      [&] { L.SetCount(MaxListSize + 1); },                      [&] { L.SetCount(INT32_MIN); },
  };
  // clang-format on
  if (C == 0) Failing.insert(Failing.end(), {[&] { L.First(); }, [&] { L.Last(); }});
  L.Log.clear();
  for (size_t I = 0; I < Failing.size(); ++I) {
    SCOPED_TRACE(I);
    const Snapshot Before = Snap(L);
    ExpectListError(Failing[I]);
    EXPECT_EQ(Snap(L), Before);
  }
  EXPECT_TRUE(L.Log.empty());
}

INSTANTIATE_TEST_SUITE_P(BothSidesOfEachStep, ListAtSize, testing::ValuesIn(StepSizes()));

// A resize that the allocator refuses leaves the list as it was.
TEST(ListClone, OutOfMemoryKeepsTheList) {
#if defined(QUILLET_LIMIT_ADDRESS_SPACE)
  TListClone L;
  for (int Id = 1; Id <= 5; ++Id) L.Add(P(Id));
  const Snapshot Before = Snap(L);
  rlimit Saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &Saved), 0);
  long Pages = 0;  // the address space in use now
  if (FILE* Statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(Statm, "%ld", &Pages) != 1) Pages = 0;
    std::fclose(Statm);
  }
  ASSERT_GT(Pages, 0);
  rlimit Tight = Saved;
  // Room for the test, but not for the 1 GiB block asked for.
  Tight.rlim_cur = static_cast<rlim_t>(Pages) * sysconf(_SC_PAGESIZE) + (256ull << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &Tight), 0);
  bool Refused = false;
  try {
    L.SetCapacity(MaxListSize);
  } catch (const std::bad_alloc&) {
    Refused = true;
  }
  setrlimit(RLIMIT_AS, &Saved);
  EXPECT_TRUE(Refused);
  EXPECT_EQ(Snap(L), Before);
#else
  GTEST_SKIP() << "needs an address-space limit";
#endif
}

}  // namespace
}  // namespace quillet
