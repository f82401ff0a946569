// The line commands as the user meets them: one row per command, read by the
// plug-in's popup menu and by the command-line filter's names and help.
//
// The rows stand in menu order. A row with a heading sits in the submenu of
// that name, and the rows of one submenu follow one another; a row that
// starts a group has a separator before it. After the last row the menu
// closes with a separator and "キャンセル" (identifier 0, no command).
// Adding a command is adding its row here and its rewrite behind
// ApplyLineCommand.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "StringUnit/StringTypes.h"
#include "transforms/LineCommands.h"

namespace quillet {

struct TCommandInfo {
  TLineCommand Id;           // the menu identifier and the filter's number
  std::string_view Name;     // the filter's name for it
  StringView Heading;        // the submenu holding it; empty at the top level
  StringView Label;          // its menu text
  std::string_view Summary;  // its line in the filter's help (a NUL-terminated literal)
  bool StartsGroup = false;  // a separator stands before it in the menu
};

// Marks a help line for the filter's message catalog, which collects the
// arguments of HelpLine; the filter shows each in the user's language.
constexpr std::string_view HelpLine(std::string_view Text) {
  return Text;
}

inline constexpr std::array<TCommandInfo, 9> CommandTable = {{
    {lcSpaces, "spaces", u"インデント種類変更", u"半角スペース",
     HelpLine("convert the indent to half-width spaces")},
    {lcFullWidth, "fullwidth", u"インデント種類変更", u"全角スペース",
     HelpLine("convert the indent to full-width spaces")},
    {lcTabs, "tabs", u"インデント種類変更", u"タブ", HelpLine("convert the indent to tabs")},
    {lcDouble, "double", u"インデント数変更", u"x2", HelpLine("double the indent")},
    {lcHalve, "halve", u"インデント数変更", u"1/2", HelpLine("halve the indent")},
    {lcUnindent, "unindent", u"", u"インデント削除", HelpLine("remove the indent"), true},
    {lcTrim, "trim", u"", u"行末空白削除", HelpLine("remove the blanks at the line ends"), true},
    {lcPad, "pad", u"行末空白埋め", u"スペース",
     HelpLine("pad line ends with spaces to the widest line")},
    {lcPadTabs, "pad-tabs", u"行末空白埋め", u"+1タブ",
     HelpLine("pad line ends with tabs past the widest line")},
}};

// The last entry of the menu, which runs nothing.
inline constexpr StringView CancelLabel = u"キャンセル";

// The row of command Id; null when Id is no command.
constexpr const TCommandInfo* FindCommand(uint8_t Id) {
  for (const TCommandInfo& Command : CommandTable)
    if (Command.Id == Id) return &Command;
  return nullptr;
}

namespace internal {

// Every identifier once and never 0, and each submenu's rows together.
constexpr bool CommandTableIsWellFormed() {
  for (size_t I = 0; I < CommandTable.size(); ++I) {
    const TCommandInfo& Row = CommandTable[I];
    if (Row.Id == 0 || FindCommand(Row.Id) != &Row || Row.Name.empty() || Row.Label.empty())
      return false;
    if (Row.Heading.empty() || (I > 0 && CommandTable[I - 1].Heading == Row.Heading)) continue;
    for (size_t J = 0; J < I; ++J)
      if (CommandTable[J].Heading == Row.Heading) return false;
  }
  return true;
}
static_assert(CommandTableIsWellFormed());

}  // namespace internal

}  // namespace quillet
