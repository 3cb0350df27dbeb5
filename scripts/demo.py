#!/usr/bin/env python3
"""Plays an assistant's typical flow through tarnwick-mcp against a running Tarnwick app.

Usage: TARNWICK_PORT=<port> scripts/demo.py <path to tarnwick-mcp>

scripts/demo starts the stand-in app and calls this. Each call is printed with the tool's text
indented below it. Exits with status 1 as soon as a step does not behave as expected: an answer
with the wrong id, an error flag other than expected, or no answer within 10 seconds.
"""
import json
import queue
import signal
import subprocess
import sys
import textwrap
import threading

TIMEOUT_SECONDS = 10


class StepFailed(Exception):
    pass


class Client:
    """An MCP client over the server's standard input and output, one request at a time."""

    def __init__(self, binary):
        # stderr is inherited: the server should never write there, and if it does, it shows.
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, encoding="utf-8")
        self.lines = queue.Queue()
        self.last_id = 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def _send(self, message):
        self.proc.stdin.write(json.dumps(message) + "\n")
        self.proc.stdin.flush()

    def notify(self, method):
        self._send({"jsonrpc": "2.0", "method": method})

    def request(self, method, params):
        self.last_id += 1
        self._send({"jsonrpc": "2.0", "id": self.last_id, "method": method, "params": params})
        try:
            line = self.lines.get(timeout=TIMEOUT_SECONDS)
        except queue.Empty:
            raise StepFailed(f"no answer to {method} within {TIMEOUT_SECONDS} seconds") from None
        if line is None:
            raise StepFailed(f"tarnwick-mcp ended without answering {method}")
        answer = json.loads(line)
        if answer.get("id") != self.last_id:
            raise StepFailed(f"the answer to {method} carries id {answer.get('id')!r}, not {self.last_id}")
        if "error" in answer:
            raise StepFailed(f"{method} got the error {answer['error']}")
        return answer["result"]

    def close(self):
        # The server ends when its input ends; a kill is only the fallback.
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def show(text):
    print(textwrap.indent(text if text else "(empty)", "    "))


def call_tool(client, name, arguments, expect_error=False):
    print(f"\n-> tools/call {name} {json.dumps(arguments)}")
    result = client.request("tools/call", {"name": name, "arguments": arguments})
    text = result["content"][0]["text"]
    show(text)
    if result.get("isError") is not expect_error:
        raise StepFailed(f"{name} answered with isError {result.get('isError')}, expected {expect_error}")
    if expect_error:
        print("    (isError: true, as expected)")
    return text


def play(client):
    print("-> initialize")
    init = client.request("initialize", {"protocolVersion": "2025-06-18", "capabilities": {},
                                         "clientInfo": {"name": "tarnwick-demo", "version": "1.0.0"}})
    info = init["serverInfo"]
    if info.get("name") != "tarnwick":
        raise StepFailed(f"initialize announced {info!r}, not tarnwick")
    show(f"{info['name']} {info['version']}, protocol {init['protocolVersion']}")
    flow = [p for p in init["instructions"].split("\n\n") if p.startswith("Typical flow")]
    show("\n".join(textwrap.wrap(flow[0] if flow else init["instructions"], 90)))
    client.notify("notifications/initialized")

    print("\n-> tools/list")
    names = [tool["name"] for tool in client.request("tools/list", {})["tools"]]
    show(", ".join(names))
    if len(names) != 10:
        raise StepFailed(f"tools/list offered {len(names)} tools, not 10")

    targets = json.loads(call_tool(client, "list_targets", {}))
    simulator = targets["simulators"][0]
    app = {"app": simulator["apps"][0]["bundle_id"], "simulator": "booted"}
    print(f"\n   (the demo works on {app['app']} in the booted {simulator['name']})")

    call_tool(client, "set_network", {**app, "preset": "3G"})
    call_tool(client, "relaunch_app", app)
    call_tool(client, "get_requests", {**app, "limit": 5})
    call_tool(client, "fail_endpoint", {**app, "pattern": "api.example.com/v1/cart", "kind": "status",
                                        "value": 503})
    call_tool(client, "mock_endpoint", {**app, "pattern": "api.example.com/v1/profile",
                                        "body": '{"name": "Demo"}'})
    call_tool(client, "status", {})
    call_tool(client, "reset_network", app)

    print("\n   A deliberate mistake: a failure mode that does not exist.")
    call_tool(client, "set_network", {**app, "failure": "sideways"}, expect_error=True)

    print("\n   The same server to a client of MCP 2026-07-28, which sends no initialize but names its")
    print("   revision in every request:")
    meta = {"_meta": {"io.modelcontextprotocol/protocolVersion": "2026-07-28",
                      "io.modelcontextprotocol/clientCapabilities": {}}}
    print("\n-> server/discover")
    found = client.request("server/discover", meta)
    show(f"revisions {', '.join(found['supportedVersions'])}, result {found['resultType']}, "
         f"cacheable for {found['ttlMs'] // 1000} s")
    print("\n-> tools/list, with _meta")
    listed = client.request("tools/list", meta)["tools"]
    readers = [tool["name"] for tool in listed if tool["annotations"]["readOnlyHint"]]
    titles = {tool["name"]: tool["title"] for tool in listed}
    show(f"each tool has a title for people, like set_network's {titles['set_network']!r}")
    show(f"only read, so an agent may run them unasked: {', '.join(readers)}")
    print("\n-> tools/call status, with _meta")
    result = client.request("tools/call", {"name": "status", "arguments": {}, **meta})
    show(result["content"][0]["text"])
    if result["resultType"] != "complete" or result["isError"]:
        raise StepFailed(f"status answered {result['resultType']!r}, isError {result['isError']}")


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    # SIGTERM becomes SystemExit, so the finally below still stops the server.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    client = Client(sys.argv[1])
    try:
        play(client)
    except StepFailed as failure:
        print(f"\ndemo: FAILED: {failure}", file=sys.stderr)
        return 1
    except (KeyError, IndexError, TypeError, ValueError) as fault:
        print(f"\ndemo: FAILED: an answer was not shaped as expected ({fault!r})", file=sys.stderr)
        return 1
    finally:
        client.close()
    print("\nDemo finished: every step answered as expected.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
