// Tab expansion exactly as first described, for tests to compare against:
// each tab's column is the byte count of the ANSI conversion of everything
// written before it, converted afresh at every tab.
#pragma once

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Columns.h"

namespace quillet {

inline String ReferenceExpandTabs(StringView S, int32_t TabWidth) {
  String Out;
  for (const char16_t C : S) {
    if (C != u'\t') {
      Out += C;
      continue;
    }
    const int32_t Column = CharsToBytes(ToAnsiString(Out), static_cast<int32_t>(Out.size()));
    Out.append(TabWidth - Column % TabWidth, u' ');
  }
  return Out;
}

}  // namespace quillet
