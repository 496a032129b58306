// The channel's answers that need no web view (argument errors, unknown ids,
// no Flutter view to embed in) and the decision rules, without a display.
// Web views themselves are exercised end to end (tests/e2e).
#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

#include "dart_side.h"
#include "webpane/webpane_plugin.h"
#include "webpane_view.h"

namespace {

using fl_testing::Adopt;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;
using fl_testing::ValuePtr;

constexpr char kChannel[] = "velmo/webpane";

// A registrar with a messenger but no Flutter view, as a headless engine has.
G_DECLARE_FINAL_TYPE(ViewlessRegistrar,
                     viewless_registrar,
                     TEST,
                     VIEWLESS_REGISTRAR,
                     GObject)

struct _ViewlessRegistrar {
  GObject parent_instance;
  FlBinaryMessenger* messenger;
};

void viewless_registrar_iface_init(FlPluginRegistrarInterface* iface) {
  iface->get_messenger = [](FlPluginRegistrar* r) {
    return TEST_VIEWLESS_REGISTRAR(r)->messenger;
  };
  iface->get_texture_registrar = [](FlPluginRegistrar*) -> gpointer {
    return nullptr;
  };
  iface->get_view = [](FlPluginRegistrar*) -> FlView* { return nullptr; };
}

G_DEFINE_TYPE_WITH_CODE(ViewlessRegistrar,
                        viewless_registrar,
                        G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(fl_plugin_registrar_get_type(),
                                              viewless_registrar_iface_init))

void viewless_registrar_class_init(ViewlessRegistrarClass*) {}
void viewless_registrar_init(ViewlessRegistrar*) {}

// A standard-codec value built inline: Map({{"id", Str("a")}, ...}).
ValuePtr Str(const char* s) {
  return Adopt(fl_value_new_string(s));
}
ValuePtr Int(int64_t i) {
  return Adopt(fl_value_new_int(i));
}
ValuePtr Map(std::initializer_list<std::pair<const char*, ValuePtr>> entries) {
  FlValue* map = fl_value_new_map();
  for (const auto& [key, value] : entries) {
    fl_value_set_string(map, key, value.get());
  }
  return Adopt(map);
}

class WebpanePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* registrar = TEST_VIEWLESS_REGISTRAR(
        g_object_new(viewless_registrar_get_type(), nullptr));
    registrar->messenger = host_.messenger();
    webpane_plugin_register_with_registrar(FL_PLUGIN_REGISTRAR(registrar));
    g_object_unref(registrar);
  }

  Reply Call(const char* method, const ValuePtr& args) {
    return host_.dart().Call(kChannel, method, args.get());
  }

  static void ExpectError(const Reply& reply,
                          const char* code,
                          const char* message) {
    ASSERT_EQ(reply.kind, Reply::Kind::kError);
    EXPECT_EQ(reply.code, code);
    EXPECT_EQ(reply.message, message);
    EXPECT_EQ(reply.details, nullptr);
  }

  static void ExpectNullSuccess(const Reply& reply) {
    ASSERT_EQ(reply.kind, Reply::Kind::kSuccess);
    ASSERT_NE(reply.value, nullptr);
    EXPECT_EQ(fl_value_get_type(reply.value.get()), FL_VALUE_TYPE_NULL);
  }

  HeadlessEngine host_;
};

TEST_F(WebpanePluginTest, IsAvailableWithoutAViewAndUnknownMethods) {
  Reply available = Call("isAvailable", nullptr);
  ASSERT_EQ(available.kind, Reply::Kind::kSuccess);
  ASSERT_EQ(fl_value_get_type(available.value.get()), FL_VALUE_TYPE_BOOL);
  EXPECT_TRUE(fl_value_get_bool(available.value.get()));

  EXPECT_EQ(Call("evaluateJavaScript", Map({{"id", Str("a")}})).kind,
            Reply::Kind::kNotImplemented);
}

TEST_F(WebpanePluginTest, AttachNeedsAStringIdAndAUrlOrHtml) {
  const ValuePtr cases[] = {
      nullptr,
      Str("a"),
      Map({}),
      Map({{"url", Str("about:blank")}}),
      Map({{"id", Int(7)}, {"url", Str("about:blank")}}),
      Map({{"id", Str("a")}}),
      Map({{"id", Str("a")}, {"url", Int(1)}, {"html", Int(2)}}),
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    ExpectError(Call("attach", cases[i]), "bad_arguments",
                "attach requires an id and a url or an html document");
  }
}

TEST_F(WebpanePluginTest, AttachWithoutAFlutterViewIsUnavailable) {
  for (const ValuePtr& args :
       {Map({{"id", Str("a")}, {"url", Str("about:blank")}}),
        Map({{"id", Str("")}, {"html", Str("<p>x</p>")}})}) {
    ExpectError(Call("attach", args), "unavailable",
                "no GtkOverlay to embed the web view in");
  }
  // Nothing was attached, so nothing is a duplicate either.
  ExpectError(Call("attach", Map({{"id", Str("a")}, {"url", Str("x:")}})),
              "unavailable", "no GtkOverlay to embed the web view in");
}

TEST_F(WebpanePluginTest, DetachNeedsAStringIdAndForgivesUnknownOnes) {
  for (const ValuePtr& args : {ValuePtr(), Map({}), Map({{"id", Int(3)}})}) {
    ExpectError(Call("detach", args), "bad_arguments", "detach requires an id");
  }
  ExpectNullSuccess(Call("detach", Map({{"id", Str("never attached")}})));
}

TEST_F(WebpanePluginTest, SetRectAndSetVisibleNeverFail) {
  const ValuePtr cases[] = {
      nullptr,
      Str("a"),
      Map({}),
      Map({{"id", Int(1)}}),
      Map({{"id", Str("unknown")}, {"x", Int(5)}, {"visible", Str("no")}}),
  };
  for (const ValuePtr& args : cases) {
    ExpectNullSuccess(Call("setRect", args));
    ExpectNullSuccess(Call("setVisible", args));
  }
}

TEST_F(WebpanePluginTest, BridgeReplyNeedsAStringRequestId) {
  const ValuePtr bad[] = {
      nullptr,
      Map({}),
      Map({{"id", Str("a")}}),
      Map({{"id", Str("a")}, {"requestId", Int(0)}}),
  };
  for (const ValuePtr& args : bad) {
    ExpectError(Call("bridgeReply", args), "bad_arguments",
                "bridgeReply requires an id and a requestId");
  }
  // A request that does not exist (here: no such view) is no error.
  ExpectNullSuccess(Call("bridgeReply", Map({{"id", Str("a")},
                                             {"requestId", Str("req_0")},
                                             {"result", Str("1")}})));
  ExpectNullSuccess(Call("bridgeReply", Map({{"requestId", Str("req_0")}})));
}

TEST_F(WebpanePluginTest, ChannelClosesWithTheEngine) {
  fl_dart_side_shutdown_engine(host_.engine());
  EXPECT_EQ(Call("isAvailable", nullptr).kind, Reply::Kind::kNotImplemented);
}

TEST(WebpaneRulesTest, LoadFailuresReportedToDart) {
  struct Case {
    GQuark domain;
    int code;
    gboolean reported;
  } cases[] = {
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, FALSE},
      {WEBKIT_POLICY_ERROR,
       WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, FALSE},
      // The same numbers in the other domain are ordinary failures.
      {WEBKIT_POLICY_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, TRUE},
      {WEBKIT_NETWORK_ERROR,
       WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, TRUE},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST, TRUE},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FAILED, TRUE},
      {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI, TRUE},
      {G_IO_ERROR, 302, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << g_quark_to_string(c.domain) << " " << c.code);
    g_autoptr(GError) error = g_error_new_literal(c.domain, c.code, "x");
    EXPECT_EQ(webpane_load_failure_is_reported(error), c.reported);
  }
  EXPECT_TRUE(webpane_load_failure_is_reported(nullptr));
}

TEST(WebpaneRulesTest, OnlyTheBoolTrueAllowsANavigation) {
  auto success = [](FlValue* value) {
    g_autoptr(FlValue) owned = value;
    return FL_METHOD_RESPONSE(fl_method_success_response_new(owned));
  };
  struct Case {
    const char* what;
    FlMethodResponse* response;
    gboolean allows;
  } cases[] = {
      {"true", success(fl_value_new_bool(true)), TRUE},
      {"false", success(fl_value_new_bool(false)), FALSE},
      {"string", success(fl_value_new_string("true")), FALSE},
      {"int", success(fl_value_new_int(1)), FALSE},
      {"null", success(nullptr), FALSE},
      {"error",
       FL_METHOD_RESPONSE(
           fl_method_error_response_new("denied", "no", nullptr)),
       FALSE},
      {"not implemented",
       FL_METHOD_RESPONSE(fl_method_not_implemented_response_new()), FALSE},
      {"failed call", nullptr, FALSE},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(webpane_navigation_reply_allows(c.response), c.allows);
    g_clear_object(&c.response);
  }
}

}  // namespace
