// The binary as a person at a terminal runs it: --help, --version, --check and mistakes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import http from 'node:http';
import { once } from 'node:events';
import path from 'node:path';
import { REQUEST_TIMEOUT_MS, binDir, startStandin } from './harness.js';

// Resolves with the exit status and both outputs; the run is killed if it outlasts the bound.
function run(args, port = 1) {
  const env = { ...process.env, TARNWICK_PORT: String(port) };
  return new Promise((resolve) => {
    execFile(path.join(binDir, 'tarnwick-mcp'), args, { env, timeout: REQUEST_TIMEOUT_MS },
      (error, stdout, stderr) => resolve({ status: error ? error.code : 0, stdout, stderr }));
  });
}

test('--help, --version, --check, and an option that is not understood', async () => {
  const help = await run(['--help']);
  assert.deepEqual([help.status, help.stderr], [0, '']);
  for (const part of ['MCP client', 'TARNWICK_PORT', '--check', '--version']) assert.ok(help.stdout.includes(part), part);
  assert.deepEqual(await run(['--version']), { status: 0, stdout: 'tarnwick 1.0.0\n', stderr: '' });
  const unknown = await run(['--chekc']);
  assert.deepEqual([unknown.status, unknown.stdout], [2, '']);
  assert.match(unknown.stderr, /^tarnwick-mcp: unknown option --chekc\nUsage: tarnwick-mcp .*--check/);
  // Asking for help as well must not hide the mistake from a script that checks the status.
  assert.deepEqual(await run(['--help', '--chekc']), unknown);

  // --check says whether the app answered, refused or could not be reached.
  const standin = await startStandin();
  try {
    const answered = await run(['--check'], standin.port);
    assert.equal(answered.status, 0, answered.stderr);
    assert.match(answered.stdout, /answers on 127\.0\.0\.1:\d+[^]*"rules"/);
  } finally {
    await standin.stop();
  }

  const refusing = http.createServer((request, response) => response.writeHead(403).end('automation is off'));
  refusing.listen(0, '127.0.0.1');
  await once(refusing, 'listening');
  try {
    const refused = await run(['--check'], refusing.address().port);
    assert.equal(refused.status, 1);
    assert.match(refused.stderr, /refused the status request \(HTTP 403\):\nautomation is off/);
  } finally {
    refusing.close();
  }

  const unreachable = await run(['--check'], 1);
  assert.equal(unreachable.status, 1);
  assert.ok(unreachable.stderr.startsWith("Couldn't reach Tarnwick on 127.0.0.1:1. Open the app"), unreachable.stderr);
});
