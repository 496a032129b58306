// Two devices in a long conversation through the C entry points, each
// keeping its records as the Dart side does, over a network that loses,
// reorders and duplicates messages. Every message delivered for the first
// time decrypts to what was sent; every further copy is refused as a
// duplicate with the receiving chain's index and the message's counter; the
// post-quantum ratchet completes epoch after epoch.
//
// Reordering stays within what the session keeps: in "bursts" one side
// sends a run of messages, delivered in any order (up to 1500 positions
// late) before the other side answers, so no message outlives the
// receiving chain or the post-quantum epoch it was sent in. In
// "interleaved" the sides take turns at random and a message is at most
// three positions late, so it still meets one of the five receiving chains
// and the post-quantum epoch before the current one.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "api/protocol/tests/dart_side.h"
#include "protocol/messages.h"
#include "protocol/pq/records.h"
#include "protocol/session_state.h"

namespace velmo::api {

using crypto::ByteView;
namespace {

using testing::DartSide;
using testing::Reply;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Config {
  const char* name;
  uint64_t seed;
  int messages_per_side;
  bool bursts;
  int max_short_burst;
  double long_burst_rate;  // bursts of 500 to 1500 messages
  double loss_rate;
  double dup_rate;
  double long_delay_rate;  // delayed up to kMaxLongDelay positions
  uint64_t min_epochs;
};

void PrintTo(const Config& c, std::ostream* os) {
  *os << c.name;
}

constexpr uint64_t kMaxLongDelay = 1500;
constexpr uint64_t kMaxShortDelay = 3;

struct Sent {
  int from;
  SignalMessageKind kind;
  Bytes bytes;
  Bytes plaintext;
  bool decrypted = false;
};

struct Stats {
  int delivered = 0;
  int reordered = 0;
  int duplicates_refused = 0;
  int pre_key_messages = 0;
};

// The counter and ratchet key of a message of either kind.
proto::SignalMessage Inner(const Sent& s) {
  if (s.kind == SignalMessageKind::PreKey) {
    return proto::ReadPreKeySignalMessage(s.bytes).value().message;
  }
  return proto::ReadSignalMessage(s.bytes).value();
}

class Simulation {
 public:
  explicit Simulation(const Config& config)
      : config_(config), gen_(config.seed) {}

  void Run() {
    Reply<StoreChanges> set_up =
        side_[0].ProcessBundle(side_[1].address(), side_[1].Bundle(true, true));
    ASSERT_EQ(0, set_up.action) << set_up.error.message;

    int sent[2] = {0, 0};
    int who = 0;
    int burst_left = 0;
    while (sent[0] < config_.messages_per_side ||
           sent[1] < config_.messages_per_side) {
      if (config_.bursts) {
        if (burst_left == 0 || sent[who] == config_.messages_per_side) {
          DeliverAll();
          who = sent[1 - who] < config_.messages_per_side ? 1 - who : who;
          burst_left = BurstLength();
        }
        burst_left--;
      } else {
        who = static_cast<int>(gen_() % 2);
        if (sent[who] == config_.messages_per_side)
          who = 1 - who;
      }
      // Bob can write once a first message of Alice's has reached him.
      if (side_[who].sessions.empty()) {
        who = 0;
      }
      SendFrom(who);
      sent[who]++;
      DeliverDue();
      if (::testing::Test::HasFatalFailure())
        return;
    }
    DeliverAll();
  }

  const Stats& stats() const { return stats_; }

  // The epochs both sides' post-quantum chains have reached.
  uint64_t CompletedEpochs() const {
    uint64_t done = UINT64_MAX;
    for (int who = 0; who < 2; who++) {
      const proto::RecordStructure record =
          side_[who].Session(side_[1 - who].address());
      pq::PqRatchetStateRecord pq;
      EXPECT_TRUE(pq::Decode(record.current_session->pq_ratchet_state, &pq));
      done = std::min(done, pq.chain ? pq.chain->current_epoch : 0);
    }
    return done;
  }

 private:
  int BurstLength() {
    std::uniform_real_distribution<double> u(0, 1);
    if (u(gen_) < config_.long_burst_rate) {
      return 500 + static_cast<int>(gen_() % 1001);
    }
    return 1 + static_cast<int>(gen_() % config_.max_short_burst);
  }

  uint64_t Delay() {
    std::uniform_real_distribution<double> u(0, 1);
    if (config_.bursts && u(gen_) < config_.long_delay_rate) {
      return gen_() % (kMaxLongDelay + 1);
    }
    return gen_() % (kMaxShortDelay + 1);
  }

  void SendFrom(int who) {
    Bytes plaintext(gen_() % 200);
    for (uint8_t& b : plaintext)
      b = static_cast<uint8_t>(gen_());
    Reply<EncryptResult> r =
        side_[who].Encrypt(side_[1 - who].address(), plaintext);
    ASSERT_EQ(0, r.action) << r.error.message << r.fault;
    if (r.value.kind == SignalMessageKind::PreKey)
      stats_.pre_key_messages++;
    const size_t id = sent_.size();
    sent_.push_back({who, r.value.kind, std::move(r.value.ciphertext),
                     std::move(plaintext)});
    std::uniform_real_distribution<double> u(0, 1);
    if (u(gen_) >= config_.loss_rate)
      Schedule(id);
    if (u(gen_) < config_.dup_rate)
      Schedule(id);
    clock_++;
  }

  void Schedule(size_t id) {
    in_flight_.emplace(std::make_pair(clock_ + Delay(), order_++), id);
  }

  void DeliverDue() {
    while (!in_flight_.empty() && in_flight_.begin()->first.first <= clock_) {
      DeliverFirst();
      if (::testing::Test::HasFatalFailure())
        return;
    }
  }

  void DeliverAll() {
    while (!in_flight_.empty()) {
      DeliverFirst();
      if (::testing::Test::HasFatalFailure())
        return;
    }
  }

  // The next index of the receiving chain a message belongs to, as the
  // receiver's stored record has it.
  uint32_t ChainIndexFor(int to, const proto::SignalMessage& m) {
    proto::RecordStructure record = side_[to].Session(side_[1 - to].address());
    proto::Result<proto::Chain*> chain =
        proto::FindReceiverChain(*record.current_session, m.ratchet_key);
    EXPECT_TRUE(chain.ok() && *chain != nullptr)
        << "a duplicate outlived its receiving chain";
    return chain.ok() && *chain ? (*chain)->chain_key->index : 0;
  }

  void DeliverFirst() {
    const size_t id = in_flight_.begin()->second;
    in_flight_.erase(in_flight_.begin());
    Sent& s = sent_[id];
    const int to = 1 - s.from;
    if (id < last_delivered_[to])
      stats_.reordered++;
    last_delivered_[to] = std::max(last_delivered_[to], id);
    SCOPED_TRACE(::testing::Message()
                 << config_.name << ": message " << id << " from " << s.from);

    if (s.decrypted) {
      const proto::SignalMessage inner = Inner(s);
      const uint32_t index = ChainIndexFor(to, inner);
      const auto before = side_[to].sessions;
      Reply<DecryptResult> r =
          side_[to].Decrypt(side_[s.from].address(), s.kind, s.bytes);
      ASSERT_EQ(1, r.action) << "a copy decrypted twice";
      EXPECT_EQ(ErrorKind::DuplicateMessage, r.error.kind);
      EXPECT_EQ("message with old counter " + std::to_string(index) + " / " +
                    std::to_string(inner.counter),
                r.error.message);
      EXPECT_EQ(before, side_[to].sessions);
      stats_.duplicates_refused++;
      return;
    }
    Reply<DecryptResult> r =
        side_[to].Decrypt(side_[s.from].address(), s.kind, s.bytes);
    ASSERT_EQ(0, r.action) << r.error.message << r.fault;
    ASSERT_EQ(s.plaintext,
              Bytes(r.value.plaintext.begin(), r.value.plaintext.end()));
    s.decrypted = true;
    stats_.delivered++;
  }

  Config config_;
  std::mt19937_64 gen_;
  DartSide side_[2] = {DartSide({"alice", 1}), DartSide({"bob", 2})};
  std::vector<Sent> sent_;
  // Keyed by (delivery time, scheduling order).
  std::map<std::pair<uint64_t, uint64_t>, size_t> in_flight_;
  uint64_t clock_ = 0;
  uint64_t order_ = 0;
  size_t last_delivered_[2] = {0, 0};
  Stats stats_;
};

class ConversationTest : public ::testing::TestWithParam<Config> {};

TEST_P(ConversationTest, EveryMessageDecryptsExactlyOnce) {
  const Config& config = GetParam();
  Simulation sim(config);
  sim.Run();
  ASSERT_FALSE(HasFatalFailure());
  const Stats& s = sim.stats();
  const uint64_t epochs = sim.CompletedEpochs();
  std::cout << config.name << ": " << s.delivered << " messages decrypted ("
            << s.pre_key_messages << " pre-key messages sent), " << s.reordered
            << " out of order, " << s.duplicates_refused
            << " duplicates refused, " << epochs
            << " post-quantum epochs completed\n";
  EXPECT_GE(epochs, config.min_epochs);
  EXPECT_GT(s.duplicates_refused, 0);
  EXPECT_GT(s.reordered, 0);
  EXPECT_GT(s.pre_key_messages, 0);
  EXPECT_GT(s.delivered, config.messages_per_side * 2 * 8 / 10);
}

const int kMessages = kSanitized ? 2000 : 10000;

INSTANTIATE_TEST_SUITE_P(
    Seeded,
    ConversationTest,
    ::testing::Values(Config{"bursts", 21, kMessages, true,
                             kSanitized ? 20 : 100, kSanitized ? 0.005 : 0.02,
                             0.05, 0.03, 0.3, kSanitized ? 3u : 10u},
                      Config{"interleaved", 22, kMessages / 4, false, 0, 0,
                             0.05, 0.03, 0, kSanitized ? 3u : 10u}),
    [](const ::testing::TestParamInfo<Config>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace velmo::api
