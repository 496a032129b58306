#include "crypto/random.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "vectors.h"

namespace velmo::crypto {
namespace {

using test::ToHex;

std::string Draw(Rng& rng, size_t n) {
  test::Bytes b(n);
  rng.Fill(b);
  return ToHex(b);
}

TEST(Random, SeededStreamsAreReproducibleAndSplitFree) {
  SeededRng a(1), b(1), c(2);
  EXPECT_EQ(Draw(a, 100), Draw(b, 100));
  EXPECT_NE(Draw(a, 32), Draw(c, 32));
  // The stream does not depend on how it is cut into requests.
  SeededRng whole(9), pieces(9);
  std::string cut;
  for (size_t n : {1, 63, 65, 7}) cut += Draw(pieces, n);
  EXPECT_EQ(Draw(whole, 136), cut);
}

TEST(Random, ScriptedHandsOutExactlyItsBytes) {
  test::Bytes script = {1, 2, 3, 4, 5};
  ScriptedRng rng(script);
  EXPECT_EQ(Draw(rng, 2), "0102");
  EXPECT_EQ(Draw(rng, 3), "030405");
  test::Bytes more(1);
  EXPECT_THROW(rng.Fill(more), std::logic_error);
}

// A child process after fork() must not repeat the parent's stream.
TEST(Random, ForkedChildDoesNotRepeatParent) {
  Draw(ThreadRng(), 8);  // make sure the parent's generator is keyed
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    test::Bytes b(32);
    ThreadRng().Fill(b);
    ssize_t n = write(fds[1], b.data(), b.size());
    _exit(n == 32 ? 0 : 1);
  }
  test::Bytes mine(32), child(32);
  ThreadRng().Fill(mine);
  ASSERT_EQ(read(fds[0], child.data(), child.size()), 32);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_NE(ToHex(mine), ToHex(child));
}

TEST(Random, RandomBelowStaysInRangeAndCoversIt) {
  SeededRng rng(4);
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint32_t v = RandomBelow(rng, 7);
    ASSERT_LT(v, 7u);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_EQ(RandomBelow(rng, 1), 0u);
}

}  // namespace
}  // namespace velmo::crypto
