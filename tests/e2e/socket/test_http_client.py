"""ClientSocket.dll's HTTP client (through ClientConnectionFactory) under Wine."""

import pytest

pytest.importorskip("aiohttp", reason="python3-aiohttp is not installed")
from product_server import ProductServer  # noqa: E402

CURLE_COULDNT_CONNECT = 7
CURLE_PEER_FAILED_VERIFICATION = 60


def post(d, host, port, secure, path, body, proxy=()):
    return d.call("http", host, port, int(secure), path, body, "application/json", *proxy, ev="http", timeout=60)


# A plain post and one over TLS are what the agent's status report makes
# (tests/e2e/agent); here the answer, a proxy and the failures.
def test_post_through_a_proxy_with_tls(driver, test_ca, tinyproxy):
    proxy = tinyproxy(user="bob", password="pr0xy")
    with ProductServer(certfile=test_ca.localhost_cert, keyfile=test_ca.localhost_key) as secure:
        answer = post(driver(), "localhost", secure.port, True, "/api/v1/unattended_computer/action", '{"a":1}',
                      proxy=("127.0.0.1", proxy.port, "bob", "pr0xy"))
        assert (answer["ok"], answer["code"], answer["response"]) == (True, 0, '{"received": 7}')
        assert secure.wait_post()[:2] == ("/api/v1/unattended_computer/action", {"a": 1})
        assert f"CONNECT localhost:{secure.port}" in proxy.log_text()


def test_failed_posts_give_a_code_and_a_text(driver, test_ca, free_port):
    d = driver()
    with ProductServer(post_status=500) as failing, ProductServer(certfile=test_ca.untrusted_cert,
                                                                  keyfile=test_ca.untrusted_key) as stranger:
        answer = post(d, "127.0.0.1", failing.port, False, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"], answer["response"]) == (False, 500, '{"received": 2}')
        assert "500" in answer["error"]

        answer = post(d, "localhost", stranger.port, True, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"]) == (False, CURLE_PEER_FAILED_VERIFICATION)
        assert stranger.posts.empty()

    answer = post(d, "127.0.0.1", free_port(), False, "toolsstatus", "{}")
    assert (answer["ok"], answer["code"]) == (False, CURLE_COULDNT_CONNECT)
    assert answer["error"]
