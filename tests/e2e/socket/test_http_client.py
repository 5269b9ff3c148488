"""ClientSocket.dll's HTTP client (through ClientConnectionFactory) under Wine.
A plain post and one over TLS are what the agent's status report makes
(tests/e2e/agent); here the answer, a proxy and the failures."""

from e2e_support import free_port
from product_server import ProductServer

CURLE_COULDNT_CONNECT = 7
CURLE_PEER_FAILED_VERIFICATION = 60


def test_posts_through_a_proxy_with_tls_and_the_failures(driver, test_ca, tinyproxy):
    d = driver()

    def post(host, port, secure, path, body, *proxy):
        return d.call("http", host, port, int(secure), path, body, "application/json", *proxy, ev="http", timeout=60)

    with (ProductServer(tls=test_ca["localhost"]) as secure, ProductServer(post_status=500) as failing,
          ProductServer(tls=test_ca["untrusted"]) as stranger):
        answer = post("localhost", secure.port, True, "/api/v1/unattended_computer/action", '{"a":1}',
                      "127.0.0.1", tinyproxy.port, "alice", "s3cret-pw")
        assert (answer["ok"], answer["code"], answer["response"]) == (True, 0, '{"received": 7}')
        assert secure.wait_post()[:2] == ("/api/v1/unattended_computer/action", {"a": 1})
        assert f"CONNECT localhost:{secure.port}" in tinyproxy.log_text()

        answer = post("127.0.0.1", failing.port, False, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"], answer["response"]) == (False, 500, '{"received": 2}')
        assert "500" in answer["error"]

        answer = post("localhost", stranger.port, True, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"]) == (False, CURLE_PEER_FAILED_VERIFICATION)
        assert stranger.posts.empty()

    answer = post("127.0.0.1", free_port(), False, "toolsstatus", "{}")
    assert (answer["ok"], answer["code"]) == (False, CURLE_COULDNT_CONNECT) and answer["error"]
