// The packed MCP bundle, installed and started the way desktop clients do it, against the stand-in.
// Runs when TARNWICK_BUNDLE names a bundle (scripts/test --full makes one with scripts/release).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { REQUEST_TIMEOUT_MS, openSession, startStandin } from './harness.js';

const bundle = process.env.TARNWICK_BUNDLE;
const opts = { timeout: REQUEST_TIMEOUT_MS };

// The bundler's library (pinned in packaging/): Claude Desktop unpacks bundles and fills in their
// mcp_config with this very code.
async function bundler() {
  const packaging = path.join(path.dirname(fileURLToPath(import.meta.url)), '../../packaging/package.json');
  return import(pathToFileURL(createRequire(packaging).resolve('@anthropic-ai/mcpb')).href);
}

test('the installed bundle starts on the configured port and serves the tools its manifest lists',
  { skip: !bundle && 'TARNWICK_BUNDLE is not set' }, async (t) => {
    const { unpackExtension, getMcpConfigForManifest } = await bundler();
    const dir = await mkdtemp(path.join(os.tmpdir(), 'tarnwick-bundle-'));
    t.after(() => rm(dir, { recursive: true, force: true }));
    assert.ok(await unpackExtension({ mcpbPath: bundle, outputDir: dir, silent: true }), 'unpacked');
    const manifest = JSON.parse(await readFile(path.join(dir, 'manifest.json'), 'utf8'));
    assert.deepEqual(manifest.compatibility.platforms, [process.platform]);

    const standin = await startStandin();
    t.after(() => standin.stop());
    // Away from the default, so that a port setting which never reached the server shows.
    assert.notEqual(standin.port, manifest.user_config.port.default);
    const config = await getMcpConfigForManifest({
      manifest, extensionPath: dir, systemDirs: {}, userConfig: { port: standin.port }, pathSeparator: path.sep,
    });

    const session = await openSession(config);
    let outcome;
    try {
      const { client } = session;
      assert.equal(client.getServerVersion().version, manifest.version);
      const { tools } = await client.listTools(undefined, opts);
      assert.equal(tools.length, 10);
      assert.deepEqual(tools.map(({ name, description }) => ({ name, description })), manifest.tools);
      const status = await client.callTool({ name: 'status', arguments: {} }, undefined, opts);
      assert.equal(status.isError, false, status.content[0]?.text);
      assert.ok(Array.isArray(JSON.parse(status.content[0].text).rules), 'the stand-in answered');
    } finally {
      outcome = await session.close();
    }
    assert.deepEqual(outcome, { code: 0, signal: null, stderr: '' }, 'server exit after the client closed');
  });
