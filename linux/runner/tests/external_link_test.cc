// Link intake: the qualifying test, holding, "takePending" and "open".
#include <gtest/gtest.h>

#include <string>

#include "dart_side.h"
#include "external_link.h"

namespace {

using fl_testing::DartSide;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;

constexpr char kChannel[] = "com.velmo.pro/external_link";

TEST(ExternalLinkTest, QualifyingLinks) {
  const std::string max = "velmo:" + std::string(2048 - 6, 'a');
  struct Case {
    std::string link;
    bool qualifies;
  } cases[] = {
      {"velmo:x", true},   {"VELMO:abc", true},
      {"VeLmO:abc", true}, {"velmo:", false},
      {"velmo", false},    {"https://velmo.example", false},
      {" velmo:x", false}, {"", false},
      {max, true},         {max + "a", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link.substr(0, 40));
    EXPECT_EQ(external_link_is_velmo(c.link.c_str()), c.qualifies);
  }
  EXPECT_FALSE(external_link_is_velmo(nullptr));

  gchar* args[] = {const_cast<gchar*>("a"), const_cast<gchar*>("velmo:"),
                   const_cast<gchar*>("velmo:one"),
                   const_cast<gchar*>("velmo:two"), nullptr};
  EXPECT_EQ(external_link_in_arguments(args), args[2]);  // borrowed
  EXPECT_EQ(external_link_in_arguments(args + 3), args[3]);
  gchar* none[] = {const_cast<gchar*>("a"), nullptr};
  EXPECT_EQ(external_link_in_arguments(none), nullptr);
  EXPECT_EQ(external_link_in_arguments(nullptr), nullptr);
}

class ExternalLinkChannelTest : public ::testing::Test {
 protected:
  void TearDown() override { external_link_shutdown(); }

  std::vector<std::string> TakePending() {
    Reply r = dart_->Call(kChannel, "takePending");
    EXPECT_EQ(r.kind, Reply::Kind::kSuccess);
    std::vector<std::string> links;
    if (r.kind == Reply::Kind::kSuccess) {
      FlValue* list = r.value.get();
      for (size_t i = 0; i < fl_value_get_length(list); i++) {
        links.push_back(fl_value_get_string(fl_value_get_list_value(list, i)));
      }
    }
    return links;
  }

  FlBinaryMessenger* messenger() { return host_.messenger(); }

  HeadlessEngine host_;
  DartSide* dart_ = &host_.dart();
};

TEST_F(ExternalLinkChannelTest, HeldLinksLeaveWithTheFirstTakePending) {
  // Arrives before the channel exists, as a first launch's link does.
  external_link_receive("VELMO:first");
  external_link_register(messenger());
  for (int i = 2; i <= 9; i++) {
    external_link_receive(("velmo:" + std::to_string(i)).c_str());
  }
  external_link_receive("velmo:");
  external_link_receive("mailto:x");
  EXPECT_EQ(TakePending(), (std::vector<std::string>{
                               "VELMO:first", "velmo:2", "velmo:3", "velmo:4",
                               "velmo:5", "velmo:6", "velmo:7", "velmo:8"}));
  EXPECT_TRUE(TakePending().empty());

  // Listening now: a new link goes out at once and is never held.
  external_link_receive("velmo:late");
  auto open = dart_->WaitForInvocation(kChannel, "open");
  ASSERT_TRUE(open.has_value());
  EXPECT_STREQ(fl_value_get_string(open->args.get()), "velmo:late");
  EXPECT_TRUE(TakePending().empty());
  EXPECT_EQ(dart_->invocations().size(), 1u);
}

TEST_F(ExternalLinkChannelTest, UnknownMethodsAndShutdown) {
  external_link_register(messenger());
  // An unknown method does not switch to listening.
  EXPECT_EQ(dart_->Call(kChannel, "open").kind, Reply::Kind::kNotImplemented);
  external_link_receive("velmo:held");
  EXPECT_EQ(TakePending(), std::vector<std::string>{"velmo:held"});

  // Shutdown forgets listening and held links and answers nothing more.
  external_link_shutdown();
  EXPECT_EQ(dart_->Call(kChannel, "takePending").kind,
            Reply::Kind::kNotImplemented);
  external_link_receive("velmo:after");
  DartSide::Drain();
  EXPECT_TRUE(dart_->invocations().empty());
  external_link_register(messenger());
  EXPECT_EQ(TakePending(), std::vector<std::string>{"velmo:after"});
}

}  // namespace
