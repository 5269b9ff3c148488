"""ClientSocket.dll's HTTP client (through ClientConnectionFactory) under Wine.
A plain post and one over TLS are what the agent's status report makes
(tests/e2e/agent); here the answer, a proxy and the failures."""

from product_server import ProductServer

CURLE_COULDNT_CONNECT = 7
CURLE_PEER_FAILED_VERIFICATION = 60


def test_posts_through_a_proxy_with_tls_and_the_failures(driver, test_ca, tinyproxy, free_port):
    d = driver()
    proxy = tinyproxy(user="bob", password="pr0xy")

    def post(host, port, secure, path, body, *proxy):
        return d.call("http", host, port, int(secure), path, body, "application/json", *proxy, ev="http", timeout=60)

    with (ProductServer(certfile=test_ca.localhost_cert, keyfile=test_ca.localhost_key) as secure,
          ProductServer(post_status=500) as failing,
          ProductServer(certfile=test_ca.untrusted_cert, keyfile=test_ca.untrusted_key) as stranger):
        answer = post("localhost", secure.port, True, "/api/v1/unattended_computer/action", '{"a":1}',
                      "127.0.0.1", proxy.port, "bob", "pr0xy")
        assert (answer["ok"], answer["code"], answer["response"]) == (True, 0, '{"received": 7}')
        assert secure.wait_post()[:2] == ("/api/v1/unattended_computer/action", {"a": 1})
        assert f"CONNECT localhost:{secure.port}" in proxy.log_text()

        answer = post("127.0.0.1", failing.port, False, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"], answer["response"]) == (False, 500, '{"received": 2}')
        assert "500" in answer["error"]

        answer = post("localhost", stranger.port, True, "toolsstatus", "{}")
        assert (answer["ok"], answer["code"]) == (False, CURLE_PEER_FAILED_VERIFICATION)
        assert stranger.posts.empty()

    answer = post("127.0.0.1", free_port(), False, "toolsstatus", "{}")
    assert (answer["ok"], answer["code"]) == (False, CURLE_COULDNT_CONNECT) and answer["error"]
