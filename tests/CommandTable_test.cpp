// Tests for transforms/CommandTable.h: the rows the menu and the filter share.
#include "transforms/CommandTable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillet {
namespace {

TEST(CommandTable, FindsExactlyTheCommands) {
  int Found = 0;
  for (int Id = 0; Id <= 255; ++Id) {
    const TCommandInfo* Row = FindCommand(static_cast<uint8_t>(Id));
    const bool IsCommand = Id >= lcSpaces && Id <= lcPadTabs;
    ASSERT_EQ(Row != nullptr, IsCommand) << Id;
    if (Row) {
      EXPECT_EQ(Row->Id, Id);
      ++Found;
    }
  }
  EXPECT_EQ(Found, static_cast<int>(CommandTable.size()));
}

TEST(CommandTable, NamesAreDistinctAndNoNumber) {
  std::set<std::string_view> Names;
  for (const TCommandInfo& Row : CommandTable) {
    EXPECT_TRUE(Names.insert(Row.Name).second) << Row.Name;
    // A name that reads as a number would shadow a command's number.
    EXPECT_EQ(Row.Name.find_first_not_of("0123456789"), 0u) << Row.Name;
    EXPECT_FALSE(Row.Summary.empty()) << Row.Name;
  }
}

}  // namespace
}  // namespace quillet
