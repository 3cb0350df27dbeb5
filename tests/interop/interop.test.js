// The official MCP TypeScript SDK client against the built tarnwick-mcp and the stand-in app.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { once } from 'node:events';
import net from 'node:net';
import {
  CallToolResultSchema, ErrorCode, LATEST_PROTOCOL_VERSION, McpError,
} from '@modelcontextprotocol/sdk/types.js';
import { AjvJsonSchemaValidator } from '@modelcontextprotocol/sdk/validation/ajv';
import { REQUEST_TIMEOUT_MS, openSession, startStandin, within } from './harness.js';

const CATALOGUE = [
  'list_targets', 'status', 'set_network', 'reset_network', 'stop_watching',
  'relaunch_app', 'get_requests', 'fail_endpoint', 'mock_endpoint', 'clear_endpoints',
];

const app = 'com.example.shop';
const simulator = 'booted';
// In the order a client would follow the server's own advice, so each call finds the state it needs.
const PLAUSIBLE = [
  ['list_targets', {}],
  ['status', {}],
  ['set_network', { app, simulator, preset: '3G', latency: 200, failure: 'refuse', percent: 30 }],
  ['relaunch_app', { app, simulator }],
  ['get_requests', { app, simulator, limit: 20, filter: 'status:4xx', include_bodies: true }],
  ['fail_endpoint', { app, simulator, pattern: 'api.example.com/v1/orders', kind: 'status', value: 503 }],
  ['mock_endpoint', {
    app, simulator, pattern: 'api.example.com/v1/profile',
    status: 200, body: '{"name":"Ada"}', content_type: 'application/json', delay: 0.5,
  }],
  ['clear_endpoints', { app, simulator, pattern: 'api.example.com/v1/orders' }],
  ['reset_network', { app, simulator }],
  ['stop_watching', { app, simulator }],
];

// Outside the "failure" enum: the server passes it on and the app refuses it.
const badNetwork = { name: 'set_network', arguments: { app, simulator, failure: 'sideways' } };

const opts = { timeout: REQUEST_TIMEOUT_MS };
let standin;

before(async () => { standin = await startStandin(); });
after(async () => { await standin?.stop(); });

// Runs `body` with a connected client and checks that closing it ends the server cleanly.
async function withSession(appPort, body) {
  const session = await openSession(appPort);
  let outcome;
  try {
    await body(session.client, session);
  } finally {
    outcome = await session.close();
  }
  assert.deepEqual(outcome, { code: 0, signal: null, stderr: '' }, 'server exit after the client closed');
}

function textOf(result) {
  assert.equal(result.content.length, 1, 'one content item');
  assert.equal(result.content[0].type, 'text');
  assert.equal(typeof result.content[0].text, 'string');
  return result.content[0].text;
}

test('the SDK handshake, then tools/list with input schemas that work, in catalogue order', async () => {
  await withSession(standin.port, async (client, session) => {
    assert.equal(session.revision, LATEST_PROTOCOL_VERSION);
    assert.deepEqual(client.getServerVersion(), { name: 'tarnwick', version: '1.0.0' });
    assert.ok(client.getServerCapabilities()?.tools, 'tools capability announced');
    assert.ok(client.getInstructions()?.startsWith('Tarnwick slows down and breaks the network'));
    assert.deepEqual(await client.ping(opts), {});

    const { tools, nextCursor } = await client.listTools(undefined, opts);
    assert.deepEqual(tools.map((tool) => tool.name), CATALOGUE);
    assert.equal(nextCursor, undefined);
    const validator = new AjvJsonSchemaValidator();
    const plausible = new Map(PLAUSIBLE);
    for (const tool of tools) {
      assert.ok(tool.description.length > 0, `${tool.name} has a description`);
      assert.equal(tool.inputSchema.type, 'object');
      const check = validator.getValidator(tool.inputSchema);
      const verdict = check(plausible.get(tool.name));
      assert.ok(verdict.valid, `${tool.name} rejects plausible arguments: ${verdict.errorMessage}`);
      // A schema whose required list did not bind would accept an empty call.
      assert.equal(check({}).valid, (tool.inputSchema.required ?? []).length === 0, `${tool.name} with {}`);
      if (tool.name === badNetwork.name) assert.equal(check(badNetwork.arguments).valid, false, 'enum binds');
    }
    assert.deepEqual(session.clientErrors, []);
  });
});

test('every tool reaches the stand-in and comes back as text', async () => {
  assert.deepEqual(PLAUSIBLE.map(([name]) => name).sort(), [...CATALOGUE].sort(), 'all ten tools are called');
  await withSession(standin.port, async (client) => {
    for (const [name, args] of PLAUSIBLE) {
      const result = await client.callTool({ name, arguments: args }, undefined, opts);
      const text = textOf(result);
      assert.equal(result.isError, false, `${name}: ${text}`);
      // The stand-in answers JSON, so a body handed on intact still parses.
      const answer = JSON.parse(text);
      if (name === 'set_network') {
        assert.equal(answer.rule?.app, app, 'the arguments reached the app');
        assert.match(answer.rule?.failure ?? '', /refuse 30%/);
      }
    }
  });
});

test('requests in flight together each get their own answer, refusals and unknown tools included', async () => {
  await withSession(standin.port, async (client) => {
    const call = (name, args = {}) => client.callTool({ name, arguments: args }, undefined, opts);
    const status = textOf(await call('status'));
    const settle = (promise) => promise.then((value) => ({ value }), (error) => ({ error }));
    const [ping, refused, unknown, status1, listed] = await Promise.all([
      client.ping(opts), call(badNetwork.name, badNetwork.arguments), settle(call('no_such_tool')), call('status'),
      client.listTools(undefined, opts),
    ]);
    assert.deepEqual(ping, {});
    assert.equal(refused.isError, true);
    assert.match(textOf(refused), /"failure".*"sideways"/, 'the stand-in names the argument and the value');
    assert.ok(unknown.error instanceof McpError && unknown.error.code === ErrorCode.InvalidParams
      && /Unknown tool\./.test(unknown.error.message), String(unknown.error));
    assert.deepEqual([textOf(status1), status1.isError], [status, false]);
    assert.deepEqual(listed.tools.map((tool) => tool.name), CATALOGUE);
  });
});

// Resolves once `holds()` is true, checking every 10 ms; rejects after `ms`.
function until(ms, what, holds) {
  return within(ms, what, new Promise((resolve) => {
    const check = () => (holds() ? resolve() : setTimeout(check, 10));
    check();
  }));
}

test('a call of the newer revision that the client aborts is dropped at once and never answered', async () => {
  // An app that takes every connection and never answers, as one does while it relaunches.
  const connections = [];
  const stalled = net.createServer((socket) => {
    const connection = { socket, closedAt: undefined };
    socket.on('close', () => { connection.closedAt = Date.now(); });
    socket.resume();
    connections.push(connection);
  });
  stalled.listen(0, '127.0.0.1');
  await once(stalled, 'listening');
  try {
    await withSession(stalled.address().port, async (client, session) => {
      const meta = {
        'io.modelcontextprotocol/protocolVersion': '2026-07-28',
        'io.modelcontextprotocol/clientCapabilities': {},
      };
      const controller = new AbortController();
      const call = client.request(
        { method: 'tools/call', params: { name: 'status', arguments: {}, _meta: meta } },
        CallToolResultSchema, { ...opts, signal: controller.signal });
      const settled = call.then(() => 'answered', (error) => error);
      await until(REQUEST_TIMEOUT_MS, 'the call to reach the app', () => connections.length === 1);
      // The SDK sends notifications/cancelled naming the request, as Escape in a client does.
      const aborted = Date.now();
      controller.abort('the user pressed Escape');
      assert.notEqual(await settled, 'answered');
      await until(REQUEST_TIMEOUT_MS, 'the server to hang up on the app', () => connections[0].closedAt !== undefined);
      assert.ok(connections[0].closedAt - aborted < 1000, `hung up after ${connections[0].closedAt - aborted} ms`);
      // Nothing waits behind it, and no answer for the cancelled id ever arrives.
      const { tools } = await client.listTools({ _meta: meta }, opts);
      assert.equal(tools.length, CATALOGUE.length);
      assert.deepEqual(session.clientErrors, []);
    });
  } finally {
    for (const { socket } of connections) socket.destroy();
    stalled.close();
  }
});
