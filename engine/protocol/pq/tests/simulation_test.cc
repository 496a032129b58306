// Two ratchets over a lossy network that reorders (within 2000 positions)
// and duplicates: every message accepted gives both sides the same key,
// duplicates are refused, the exchange completes epoch after epoch, and each
// stored state survives a trip through its encoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "protocol/pq/exchange.h"
#include "protocol/pq/message.h"
#include "protocol/pq/ratchet.h"
#include "protocol/pq/records.h"

namespace velmo::pq {
namespace {

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
  // Bursts: one side sends a run of messages, all of which arrive (reordered)
  // before the other side answers. Otherwise the sides interleave at random
  // and late messages may outlive the epoch they belong to.
  bool bursts;
  int max_short_burst;
  double long_burst_rate;
  double loss_rate;
  double dup_rate;
  double long_delay_rate;  // share of messages delayed up to kMaxDelay
};

void PrintTo(const Config& c, std::ostream* os) { *os << c.name; }

constexpr uint64_t kMaxDelay = 2000;
constexpr int kShortDelay = 5;

struct Sent {
  int from;
  Bytes message;
  std::optional<MessageKey> key;
  bool arrived = false;  // a copy was delivered already
  bool accepted = false;
};

struct Stats {
  int keyed = 0;
  int duplicates_refused = 0;
  int stale = 0;
  int reordered = 0;
  std::set<std::string> states;
};

std::string ToString(ByteView b) { return std::string(b.begin(), b.end()); }

// The state must read back and write out to the very same bytes, through the
// record and through the working form of the exchange state.
void ExpectRoundTrip(const SecretBytes& state) {
  PqRatchetStateRecord r;
  ASSERT_TRUE(Decode(state, &r));
  ASSERT_EQ(ToString(state), ToString(Encode(r)));
  if (r.inner) {
    std::optional<V1State> v = FromRecord(*r.inner);
    ASSERT_TRUE(v.has_value());
    r.inner = ToRecord(*v);
    ASSERT_EQ(ToString(state), ToString(Encode(r)));
  }
}

class Simulation {
 public:
  explicit Simulation(const Config& config)
      : config_(config), gen_(config.seed), rng_(config.seed) {
    uint8_t auth[32];
    rng_.Fill(auth);
    for (uint32_t who = 0; who < 2; who++) {
      state_[who] = CreateState({ByteView(auth), who}).value();
    }
  }

  void Run() {
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
        if (sent[who] == config_.messages_per_side) who = 1 - who;
      }
      SendFrom(who);
      sent[who]++;
      DeliverDue();
      if (::testing::Test::HasFatalFailure()) return;
    }
    DeliverAll();
  }

  const Stats& stats() const { return stats_; }
  uint64_t CompletedEpochs() const {
    uint64_t done = UINT64_MAX;
    for (const SecretBytes& s : state_) {
      PqRatchetStateRecord r;
      EXPECT_TRUE(Decode(s, &r));
      done = std::min(done, r.chain ? r.chain->current_epoch : 0);
    }
    return done;
  }

 private:
  int BurstLength() {
    std::uniform_real_distribution<double> u(0, 1);
    if (u(gen_) < config_.long_burst_rate) {
      return 1000 + static_cast<int>(gen_() % 1500);
    }
    return 1 + static_cast<int>(gen_() % config_.max_short_burst);
  }

  uint64_t Delay() {
    std::uniform_real_distribution<double> u(0, 1);
    if (u(gen_) < config_.long_delay_rate) {
      return gen_() % (kMaxDelay + 1);
    }
    return gen_() % (kShortDelay + 1);
  }

  void SendFrom(int who) {
    Result<SendResult> r = Send(state_[who], rng_);
    ASSERT_TRUE(r.ok()) << r.error().message;
    state_[who] = std::move(r->state);
    ExpectRoundTrip(state_[who]);
    Note(who);
    const size_t id = sent_.size();
    sent_.push_back({who, std::move(r->message), std::move(r->key)});
    std::uniform_real_distribution<double> u(0, 1);
    if (u(gen_) >= config_.loss_rate) {
      Schedule(id);
    }
    if (u(gen_) < config_.dup_rate) {
      Schedule(id);
    }
    clock_++;
  }

  void Schedule(size_t id) {
    in_flight_.emplace(std::make_pair(clock_ + Delay(), order_++), id);
  }

  void DeliverDue() {
    while (!in_flight_.empty() && in_flight_.begin()->first.first <= clock_) {
      DeliverFirst();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

  void DeliverAll() {
    while (!in_flight_.empty()) {
      DeliverFirst();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }

  void DeliverFirst() {
    const size_t id = in_flight_.begin()->second;
    in_flight_.erase(in_flight_.begin());
    Sent& s = sent_[id];
    const int to = 1 - s.from;
    if (id < last_delivered_[to]) {
      stats_.reordered++;
    }
    last_delivered_[to] = std::max(last_delivered_[to], id);
    const Message m = DecodeMessage(s.message).value();
    Result<ReceiveResult> r = Receive(state_[to], s.message);
    SCOPED_TRACE(::testing::Message()
                 << config_.name << ": message " << id << " from " << s.from
                 << ", epoch " << m.epoch << ", index " << m.index);

    if (s.arrived) {
      // A second copy: refused if the first one took a key.
      if (s.accepted && s.key) {
        ASSERT_FALSE(r.ok());
        if (r.error().code == ErrorCode::kKeyAlreadyRequested) {
          EXPECT_EQ("Key already requested: " + std::to_string(m.index),
                    r.error().message);
          stats_.duplicates_refused++;
        } else {
          ExpectStale(to, m, r.error());
        }
        return;
      }
      if (!r.ok()) {
        ExpectStale(to, m, r.error());
        return;
      }
    } else if (!r.ok()) {
      s.arrived = true;
      ExpectStale(to, m, r.error());
      stats_.stale++;
      return;
    } else {
      ASSERT_EQ(s.key.has_value(), r->key.has_value());
      if (s.key) {
        ASSERT_TRUE(crypto::ct_equal(ByteView(*s.key), ByteView(*r->key)));
        stats_.keyed++;
      }
    }
    s.arrived = true;
    s.accepted = true;
    state_[to] = std::move(r->state);
    ExpectRoundTrip(state_[to]);
    Note(to);
  }

  // A message may be refused only because the receiver has moved two epochs
  // on and dropped the chain epoch it was sent with; never with bursts,
  // where nothing arrives after its sender's peer has answered.
  void ExpectStale(int to, const Message& m, const Error& e) {
    ASSERT_FALSE(config_.bursts) << e.message;
    ASSERT_EQ(ErrorCode::kEpochOutOfRange, e.code) << e.message;
    PqRatchetStateRecord r;
    ASSERT_TRUE(Decode(state_[to], &r));
    ASSERT_TRUE(r.chain.has_value());
    const uint64_t oldest = r.chain->current_epoch - (r.chain->links.size() - 1);
    EXPECT_LT(m.epoch - 1, oldest);
    EXPECT_EQ("epoch not in valid range: " + std::to_string(m.epoch - 1),
              e.message);
  }

  void Note(int who) {
    PqRatchetStateRecord r;
    ASSERT_TRUE(Decode(state_[who], &r));
    ASSERT_TRUE(r.inner.has_value());
    stats_.states.insert(std::string(StateName(*FromRecord(*r.inner))));
  }

  Config config_;
  std::mt19937_64 gen_;
  crypto::SeededRng rng_;
  SecretBytes state_[2];
  std::vector<Sent> sent_;
  // Keyed by (delivery time, scheduling order).
  std::map<std::pair<uint64_t, uint64_t>, size_t> in_flight_;
  uint64_t clock_ = 0;
  uint64_t order_ = 0;
  size_t last_delivered_[2] = {0, 0};
  Stats stats_;
};

class SimulationTest : public ::testing::TestWithParam<Config> {};

TEST_P(SimulationTest, BothSidesAgreeOnEveryKey) {
  const Config& config = GetParam();
  Simulation sim(config);
  sim.Run();
  ASSERT_FALSE(HasFatalFailure());
  const Stats& s = sim.stats();
  const uint64_t epochs = sim.CompletedEpochs();
  std::cout << config.name << ": " << s.keyed << " keyed messages agreed, "
            << s.reordered << " arrived out of order, "
            << s.duplicates_refused << " duplicates refused, " << s.stale
            << " outlived their epoch, " << epochs << " epochs completed\n";
  EXPECT_GE(epochs, 10u);
  EXPECT_EQ(11u, s.states.size());
  EXPECT_GT(s.duplicates_refused, 0);
  EXPECT_GT(s.reordered, 0);
  // Nearly every message that was not lost took its key.
  EXPECT_GT(s.keyed, config.messages_per_side * 2 * 8 / 10);
}

const int kMessages = kSanitized ? 3000 : 10000;

INSTANTIATE_TEST_SUITE_P(
    Seeded, SimulationTest,
    ::testing::Values(
        // Sanitized builds send fewer messages, so their bursts are shorter
        // to complete as many epochs.
        Config{"bursts", 11, kMessages, true, kSanitized ? 20 : 120,
               kSanitized ? 0.01 : 0.04, 0.05, 0.03, 0.3},
        Config{"interleaved", 12, kMessages, false, 0, 0, 0.05, 0.03, 0.02}),
    [](const ::testing::TestParamInfo<Config>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace velmo::pq
