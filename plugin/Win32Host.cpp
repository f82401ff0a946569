#include "plugin/Win32Host.h"

namespace quillet {

intptr_t TWin32Host::Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return SendMessageW(editor_, Msg, WParam, LParam);
}

}  // namespace quillet
