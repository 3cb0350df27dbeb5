// Floor for the cold start: answers its first line with a short line, then waits for the end
// of its input, as the server does, but does no work of its own. Built twice: once loading only
// the C library, once loading the same shared libraries as the server (BENCH_LINKED).
#include <unistd.h>

namespace {

bool readUntilNewline() {
  char buf[4096];
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') return true;
    }
  }
}

}  // namespace

int main() {
  if (readUntilNewline()) {
    static const char answer[] = "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n";
    if (write(1, answer, sizeof answer - 1) < 0) return 1;
  }
  char buf[4096];
  while (read(0, buf, sizeof buf) > 0) {
  }
  return 0;
}
