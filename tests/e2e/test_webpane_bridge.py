"""The script bridge end to end: page messages become "onBridgeRequest"
with per-view request ids, and "bridgeReply" settles the page's promise."""

import standard_codec as c
from webpane_driver import OK, webpane  # noqa: F401

# Posts "first" and "second" at load, and "third" once "first" is settled;
# each outcome lands in the title as "<message> ok:<type>:<value>" or
# "<message> err:<text>".
BRIDGE_PAGE = """<script>
const bridge = webkit.messageHandlers.velmo;
function send(message) {
  return bridge.postMessage(message).then(
      value => 'ok:' + typeof value + ':' + value, e => 'err:' + e.message)
    .then(outcome => { document.title = message + ' ' + outcome; });
}
send('first').then(() => send('third'));
send('second');
</script>"""


def requests(webpane, view_id):
    return [(r["requestId"], r["message"])
            for r in webpane.events(view_id, "onBridgeRequest")]


def reply(webpane, view_id, request_id, **outcome):
    assert webpane.call("bridgeReply", {"id": view_id,
                                        "requestId": request_id,
                                        **outcome}) == OK


def test_requests_are_numbered_per_view_and_settled_by_dart(webpane):
    webpane.attach("one", html=BRIDGE_PAGE, bridgeName="velmo")
    webpane.wait_event("one", "onBridgeRequest", count=2)
    assert requests(webpane, "one") == [("req_0", "first"),
                                        ("req_1", "second")]
    webpane.attach("two", html=BRIDGE_PAGE, bridgeName="velmo")
    webpane.wait_event("two", "onBridgeRequest", count=2)
    assert requests(webpane, "two") == [("req_0", "first"),
                                        ("req_1", "second")]

    # An error wins over a result.
    reply(webpane, "one", "req_1", error="refused", result="ignored")
    webpane.wait_title("one", "second err:refused")
    # Without a result the page gets the string "null".
    reply(webpane, "one", "req_0")
    webpane.wait_title("one", "first ok:string:null")
    # The page parses structure itself: it always receives a string.
    reply(webpane, "two", "req_0", result='{"n": 1}')
    webpane.wait_title("two", 'first ok:string:{"n": 1}')

    # A second reply to a settled request succeeds and changes nothing: the
    # page's next request is the next thing it hears of.
    webpane.wait_event("one", "onBridgeRequest", {"requestId": "req_2",
                                                  "message": "third"})
    reply(webpane, "one", "req_0", result="late")
    reply(webpane, "one", "req_1", error="late")
    reply(webpane, "one", "req_2", result="3")
    webpane.wait_title("one", "third ok:string:3")
    assert not any("late" in t for t in webpane.titles("one"))

    # Views do not answer each other's requests.
    reply(webpane, "one", "req_1", result="for two?")
    reply(webpane, "two", "req_1", result="2")
    webpane.wait_title("two", "second ok:string:2")
    assert not any("for two?" in t for t in webpane.titles("two"))
    webpane.detach("one")
    webpane.detach("two")


def test_reply_arguments_and_requests_that_no_longer_exist(webpane):
    missing = c.Error("bad_arguments",
                      "bridgeReply requires an id and a requestId", None)
    for args in (None, {"id": "args"}, {"id": "args", "requestId": 0}):
        assert webpane.call("bridgeReply", args) == missing

    webpane.attach("args", html=BRIDGE_PAGE, bridgeName="velmo")
    webpane.wait_event("args", "onBridgeRequest", count=2)
    # Pending requests go with their view; replies after that are no error.
    webpane.detach("args")
    reply(webpane, "args", "req_0", result="gone")
    reply(webpane, "never attached", "req_0")
    assert webpane.alive()


def test_messages_reach_dart_as_their_string_conversion(webpane):
    webpane.attach("types", bridgeName="velmo", html="""<script>
for (const value of [42, null, {a: 1}, [1, 'two'], undefined, true])
  webkit.messageHandlers.velmo.postMessage(value);
</script>""")
    webpane.wait_event("types", "onBridgeRequest", count=6)
    assert [m for _, m in requests(webpane, "types")] == [
        "42", "null", "[object Object]", "1,two", "undefined", "true"]
    webpane.detach("types")

    # Without a bridge name the page has no handler to post to.
    webpane.attach("none", html="""<script>
document.title = typeof window.webkit === 'undefined' ||
    !window.webkit.messageHandlers.velmo ? 'no bridge' : 'bridge';
</script>""")
    webpane.wait_title("none", "no bridge")
    webpane.detach("none")
