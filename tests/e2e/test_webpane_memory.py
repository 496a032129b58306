"""What attach and detach leave behind: the host's resident memory after 50
attach/detach cycles against after 5, and no web process outliving its
view. The figures go to webpane-memory.txt in the build folder."""

import os

import desktop
from webpane_driver import webpane  # noqa: F401

PAGE = """<html><head><title>cycle</title></head><body>
<p>A page with a bridge, a user script and a little of everything.</p>
<script>webkit.messageHandlers.velmo.postMessage('hello');</script>
</body></html>"""


def cycle(webpane, n):
    view_id = f"cycle {n}"
    webpane.attach(view_id, html=PAGE, bridgeName="velmo",
                   userScript="window.cycle = true;", navigationPolicy=True,
                   width=200, height=100)
    webpane.wait_loaded(view_id, "about:blank")
    # Left pending: detach drops it unanswered.
    webpane.wait_event(view_id, "onBridgeRequest")
    webpane.detach(view_id)


def test_attach_detach_cycles_do_not_grow_the_host(webpane, build_dir):
    for n in range(5):
        cycle(webpane, n)
    desktop.wait_for(lambda: not webpane.web_processes(), 30,
                     "the web processes to end")
    after_5 = webpane.resident_kib()
    for n in range(5, 50):
        cycle(webpane, n)
    desktop.wait_for(lambda: not webpane.web_processes(), 30,
                     "the web processes to end")
    after_50 = webpane.resident_kib()

    growth = after_50 - after_5
    report = (f"webpane memory: host resident {after_5} KiB after 5 "
              f"attach/detach cycles, {after_50} KiB after 50 "
              f"({growth:+d} KiB, {growth / 45:+.1f} KiB per cycle)\n")
    with open(os.path.join(build_dir, "webpane-memory.txt"), "w") as f:
        f.write(report)
    print(report)
    # A leaked view (widget, web context, page state) costs far more than
    # this per cycle; allocator noise stays well below it.
    assert growth < 45 * 256, report
