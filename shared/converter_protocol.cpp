#include "shared/converter_protocol.h"

#include <algorithm>
#include <cstring>

size_t StoreReplyBytes(char* buf, size_t cap, const void* data, size_t len) {
  if (cap == 0) return 0;
  std::memset(buf, 0, std::min(kReplyClearBytes, cap));
  const size_t n = data == nullptr ? 0 : std::min(len, cap - 1);
  if (n != 0) std::memcpy(buf, data, n);
  buf[n] = '\0';
  return n;
}
